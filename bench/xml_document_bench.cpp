// The XML document class under documents of N elements: N appends with three attributes
// each (as update.pre.xml is written), and a load followed by a walk reading every
// attribute. Beside them, the same appends with Python's ElementTree, counted as the CPU
// of that child process. Time per element should not grow with N.
//
//   bench_xml_document_bench [--benchmark_filter=...]   (the anchor needs python3)
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>

#include "text/text.h"
#include "xml/xml_document.h"

namespace {

constexpr char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::u16string number(int i) { return text::fromUtf8(std::to_string(i)); }

void appendAll(XmlDocument& doc, int count) {
    doc.addElement(u"root");
    doc.enterElement();
    for (int i = 0; i < count; ++i) {
        doc.addElement(u"File");
        doc.setAttribute(u"md5", u"0123456789abcdef0123456789abcdef");
        doc.setAttribute(u"OldFile", u"C:\\Program Files\\Orvix\\plugins\\m" + number(i) + u".dll");
        doc.setAttribute(u"NewFile", u"C:\\Program Files\\Orvix\\OvUpdate\\bin\\plugins\\m" + number(i) + u".dll");
    }
    doc.leaveElement();
}

void setCounters(benchmark::State& state, int count) {
    state.counters["per_element"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_AppendWithAttributes(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        XmlDocument doc(kDeclaration);
        appendAll(doc, count);
        benchmark::DoNotOptimize(doc.text().size());
    }
    setCounters(state, count);
}

void BM_LoadAndWalk(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    XmlDocument source(kDeclaration);
    appendAll(source, count);
    const std::u16string text = source.text();
    for (auto _ : state) {
        XmlDocument doc(text);
        size_t read = 0;
        doc.findElement(u"root");
        doc.enterElement();
        while (doc.findElement(u"File")) read += doc.readAttribute(u"NewFile").size();
        if (read == 0) state.SkipWithError("nothing read");
    }
    setCounters(state, count);
}

double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_PythonElementTree(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    std::string command =
        "python3 -c \"import xml.etree.ElementTree as ET\n"
        "root = ET.Element('root')\n"
        "for i in range(" +
        std::to_string(count) +
        "):\n"
        "    e = ET.SubElement(root, 'File')\n"
        "    e.set('md5', '0123456789abcdef0123456789abcdef')\n"
        "    e.set('OldFile', 'C:\\\\\\\\Program Files\\\\\\\\Orvix\\\\\\\\plugins\\\\\\\\m%d.dll' % i)\n"
        "    e.set('NewFile', 'C:\\\\\\\\Program "
        "Files\\\\\\\\Orvix\\\\\\\\OvUpdate\\\\\\\\bin\\\\\\\\plugins\\\\\\\\m%d.dll' % i)\n"
        "ET.tostring(root, encoding='unicode')\"";
    for (auto _ : state) {
        double before = childCpuSeconds();
        if (std::system(command.c_str()) != 0) state.SkipWithError("python3 failed");
        state.SetIterationTime(childCpuSeconds() - before);
    }
    setCounters(state, count);
}

// Times are CPU seconds.
BENCHMARK(BM_AppendWithAttributes)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_LoadAndWalk)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_PythonElementTree)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
