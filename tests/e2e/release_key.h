// A release key made and used by the minisign command, as a release engineer would: a
// password-less key pair of its own (minisign -G -W), and signatures of documents made with
// minisign -S under the document's own file name.
#pragma once
#include <ctime>
#include <string>

#include "e2e/e2e_fixture.h"
#include "support/temp_folder.h"

namespace e2e {

// The minisign command of the machine. A Windows test program reaches the Linux one
// through Wine's drive Z:, which Wine starts as the host's own program.
inline fs::path minisignProgram() {
#ifdef _WIN32
    return fs::path("Z:\\usr\\bin\\minisign");
#else
    return fs::path("/usr/bin/minisign");
#endif
}

class ReleaseKey {
public:
    ReleaseKey() {
        EXPECT_TRUE(
            minisign({"-G", "-W", "-p", "minisign.pub", "-s", "minisign.key"}, {"minisign.key", "minisign.pub"}))
            << m_folder.read("minisign.out");
        std::string file = m_folder.read("minisign.pub");
        size_t line = file.find('\n');
        m_publicKey = file.substr(line + 1, file.find_first_of("\r\n", line + 1) - line - 1);
    }

    // The base64 line of minisign.pub, as the deployment file's publickey takes it.
    const std::string& publicKey() const { return m_publicKey; }

    // The .minisig text of bytes signed as name: a bare file name, as minisign writes it
    // ("timestamp:<now>\tfile:<name>\thashed"), or a path in the served tree, with the
    // comment ovpublish writes; a trusted comment of the test's own when one is given, the
    // legacy kind (minisign -l) when asked.
    std::string sign(const std::string& bytes, const std::string& name, std::string trustedComment = "",
                     bool legacy = false) const {
        std::string file = "sign/" + name.substr(name.rfind('/') + 1);
        if (trustedComment.empty() && name.find('/') != std::string::npos)
            trustedComment = comment(name, std::time(nullptr));
        m_folder.write(file, bytes);
        std::vector<std::string> args = {"-S", "-s", "minisign.key", "-m", file};
        if (legacy) args.push_back("-l");
        if (!trustedComment.empty()) args.insert(args.end(), {"-t", trustedComment});
        EXPECT_TRUE(minisign(args, {file + ".minisig"})) << m_folder.read("minisign.out");
        return m_folder.read(file + ".minisig");
    }

    // The trusted comment minisign writes, at a time of the test's choosing.
    static std::string comment(const std::string& name, int64_t signedAt) {
        return "timestamp:" + std::to_string(static_cast<long long>(signedAt)) + "\tfile:" + name;
    }

private:
    // Runs minisign and waits for the files it writes, each whole (its lines ended). Under
    // Wine the host's program runs outside Windows' process bookkeeping, with no handle that
    // tells when it ends: there the files alone say it.
    bool minisign(const std::vector<std::string>& args, const std::vector<std::string>& writes) const {
        for (const std::string& file : writes) fs::remove(m_folder.path() / fs::u8path(file));
        Launch launch;
        launch.program = minisignProgram();
        launch.args = args;
        // Paths relative to the key's folder: the same on both systems.
        launch.workingFolder = m_folder.path();
        launch.output = m_folder.path() / "minisign.out";
        std::unique_ptr<Process> process = Process::start(launch);
        if (!process) return false;
#ifndef _WIN32
        if (process->wait(20000).exitCode != 0) return false;
#endif
        return waitUntil(
            [&] {
                for (const std::string& file : writes) {
                    fs::path path = m_folder.path() / fs::u8path(file);
                    if (!fs::exists(path)) return false;
                    std::string text = readFile(path);
                    size_t minimum = text.rfind("untrusted comment: signature", 0) == 0 ? 4 : 2;
                    if (text.empty() || text.back() != '\n' ||
                        static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) < minimum)
                        return false;
                }
                return true;
            },
            std::chrono::seconds(20));
    }

    testsupport::TempFolder m_folder;
    std::string m_publicKey;
};

}  // namespace e2e
