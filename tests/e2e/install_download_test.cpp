// A background run that takes a package: through the stand-in engine, or over HTTP from
// the full link and then from each package domain, always ending with the digest check.
#include "e2e/install_world.h"
#include "support/proxy_server.h"

using namespace e2e;

TEST_F(InstallRun, EngineDownloadsThePackageAndItIsRecorded) {
    HttpServer engineSide, http;
    engineSide.serve("/p2p/pkg", {m_package});
    offer(engineLink(engineSide.url("/p2p/pkg")) + " httplinkfull='" + http.url("/pkg") + "' runnow='0'");

    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(
        lines,
        {"准备下载安装包", "只存在prism后开始下载，失败后再http下载", "prism download start",
         "设置任务配置参数：paramname:p2p_priority, paramvalue:1, return code:0", "prism 注册回掉：success",
         "prism 开始任务：success", "prism 回掉注册成功", "下载安装包完成 下载状态是：5", "check md5 success",
         "write update info in OvUpdate.ini", "释放所有prism资源", "正常升级线程结束"}));
    EXPECT_EQ(savedBytes(), m_package);
    EXPECT_EQ(recordedFile(), kName);
    EXPECT_EQ(engineSide.hits("/p2p/pkg"), 1);
    EXPECT_TRUE(requestedPaths(http).empty());
    EXPECT_FALSE(fs::exists(marker()));
}

// Each way the engine can be unusable before its task runs sends the download to HTTP at
// once, with the line of the step that failed.
TEST_F(InstallRun, UnusableEngineFallsBackToHttpAtEveryStep) {
    struct Cause {
        const char* what;
        std::function<void(InstallWorld&)> arrange;
        const char* line;  // empty: the step logs nothing of its own
        bool noChecksum;
    };
    std::vector<Cause> causes = {
        {"no checksum", [](InstallWorld&) {}, "prismlink or filesize or crc32 is empty return", true},
        {"no registry key", [](InstallWorld& t) { t.unregisterEngine(); }, "加载prism.dll失败", false},
        {"key names a missing file",
         [](InstallWorld& t) { t.registerEngine(t.m_box.path() / "gone" / "NimboProxy.dll"); },
         "加载prism.dll失败", false},
        {"no exports",
         [](InstallWorld& t) {
             fs::remove(t.engineDir() / "prism.dll");  // (MinGW's copy_file cannot overwrite)
             fs::copy_file(t.engineDir() / "NimboProxy.dll", t.engineDir() / "prism.dll");
         },
         "prism.dll 获取导出函数失败", false},
        {"no libcurl.dll", [](InstallWorld& t) { fs::remove(t.engineDir() / "libcurl.dll"); }, "", false},
        {"no creator", [](InstallWorld& t) { t.m_box.setEnv("PRISM_STANDIN_FAIL", "init"); }, "", false},
        {"no task", [](InstallWorld& t) { t.m_box.setEnv("PRISM_STANDIN_FAIL", "task"); }, "", false},
        {"callback refused", [](InstallWorld& t) { t.m_box.setEnv("PRISM_STANDIN_FAIL", "callback"); },
         "prism 注册回掉：fail", false},
        {"task not started", [](InstallWorld& t) { t.m_box.setEnv("PRISM_STANDIN_FAIL", "start"); },
         "prism 开始任务：fail", false},
    };
    for (const Cause& cause : causes) {
        SCOPED_TRACE(cause.what);
        InstallWorld run;
        HttpServer engineSide, http;
        engineSide.serve("/p2p/pkg", {"the engine must not be the one that brings this"});
        http.serve("/pkg", {run.m_package});
        std::string engine = cause.noChecksum
                                 ? "usehttp='0' prismlink='" + engineSide.url("/p2p/pkg") + "' filesize='100000000'"
                                 : engineLink(engineSide.url("/p2p/pkg"));
        run.offer(engine + " httplinkfull='" + http.url("/pkg") + "'");
        if (cause.arrange) cause.arrange(run);

        std::vector<std::string> lines = run.runAgent();
        std::vector<std::string> expected = {"prism download start"};
        if (*cause.line) expected.push_back(cause.line);
        expected.push_back("prism失败,去走http下载");
        expected.push_back("升级成功。实用的是httplinkfull，值为：" + http.url("/pkg"));
        expected.push_back("check md5 success");
        EXPECT_TRUE(inOrder(lines, expected));
        EXPECT_EQ(engineSide.hits("/p2p/pkg"), 0);
        EXPECT_EQ(http.hits("/pkg"), 1);
        EXPECT_EQ(run.savedBytes(), run.m_package);
        EXPECT_EQ(run.recordedFile(), kName);
        EXPECT_EQ(lineAt(lines, "prism 回掉注册成功"), -1);
        EXPECT_NE(lineAt(lines, "释放所有prism资源"), -1);
    }
}

TEST_F(InstallRun, EngineFailureNotificationSendsTheDownloadToHttp) {
    HttpServer engineSide, http;  // the engine's link answers 404
    http.serve("/pkg", {m_package});
    offer(engineLink(engineSide.url("/p2p/pkg")) + " httplinkfull='" + http.url("/pkg") + "'");

    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"prism 开始任务：success", "prism或者nimbo下载安装包返回失败转http下载",
                                "[LmUpdate.exe]保存文件名为：" +
                                    windowsPath((m_box.dataFolder() / "OvUpdate").string()) + "," + kName,
                                "升级成功。实用的是httplinkfull，值为：" + http.url("/pkg"),
                                "下载安装包完成 下载状态是：5", "check md5 success", "释放所有prism资源"}));
    EXPECT_EQ(engineSide.hits("/p2p/pkg"), 1);
    EXPECT_EQ(http.hits("/pkg"), 1);
    EXPECT_EQ(countLogged(lines, "prism download start"), 1);
    EXPECT_EQ(savedBytes(), m_package);
    EXPECT_EQ(recordedFile(), kName);
}

// A package the engine calls whole is still checked; a wrong one is fetched over HTTP once,
// and a second wrong one ends the run without installing.
TEST_F(InstallRun, WrongDigestFromTheEngineIsFetchedOverHttpOnce) {
    for (bool httpRight : {true, false}) {
        SCOPED_TRACE(httpRight);
        InstallWorld run;
        HttpServer engineSide, http;
        engineSide.serve("/p2p/pkg", {"corrupted by a peer"});
        http.serve("/pkg", {httpRight ? run.m_package : "corrupted on the server too"});
        run.offer(engineLink(engineSide.url("/p2p/pkg")) + " httplinkfull='" + http.url("/pkg") + "'");

        std::vector<std::string> lines = run.runAgent();
        EXPECT_TRUE(inOrder(
            lines,
            {"下载安装包完成 下载状态是：5", "check md5 fail", "prism返回成功但md5校验失败，重新开始http下载",
             "释放所有prism资源", "下载安装包完成 下载状态是：5",
             httpRight ? "check md5 success" : "check md5 fail", "释放所有prism资源", "正常升级线程结束"}));
        EXPECT_EQ(engineSide.hits("/p2p/pkg"), 1);
        EXPECT_EQ(http.hits("/pkg"), 1);
        EXPECT_EQ(run.recordedFile(), httpRight ? kName : "");
        EXPECT_FALSE(fs::exists(run.marker()));
        EXPECT_EQ(countLogged(lines, "prism返回成功但md5校验失败，重新开始http下载"), 1);
    }
}

TEST_F(InstallRun, FullLinkFailsThenTheDomainsAreTriedInOrder) {
    HttpServer full, first, second, third;
    second.serve("/packages/pkg", {m_package});
    third.serve("/packages/pkg", {m_package});
    offer("usehttp='1' prismlink='" + full.url("/p2p") + "' httplinkfull='" + full.url("/gone") +
              "' httplink='packages/pkg'",
          {first.base(), second.base(), third.base()});

    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(
        lines, {"http下载开始", "[LmUpdate.exe]httplinkfull为空或者下载失败，值为：" + full.url("/gone"),
                "[LmUpdate.exe]使用httplink拼接域名的方式下载，strHttpLink = packages/pkg",
                "[LmUpdate.exe]拼接域名全地址：" + first.url("/packages/pkg") + "， 保存文件名为：" + savePath(),
                "下载" + savePath() + "返回失败",
                "[LmUpdate.exe]拼接域名全地址：" + second.url("/packages/pkg") + "， 保存文件名为：" + savePath(),
                "升级成功。实用的地址为：" + second.url("/packages/pkg"), "check md5 success"}));
    EXPECT_EQ(lineAt(lines, "prism download start"), -1);  // usehttp keeps the engine out
    EXPECT_EQ(requestedPaths(full), std::vector<std::string>{"/gone"});
    EXPECT_EQ(requestedPaths(first), std::vector<std::string>{"/packages/pkg"});
    EXPECT_EQ(requestedPaths(second), std::vector<std::string>{"/packages/pkg"});
    EXPECT_TRUE(requestedPaths(third).empty());
    EXPECT_EQ(savedBytes(), m_package);
    EXPECT_EQ(recordedFile(), kName);
}

// Nothing to download from: the run ends with status 6 at once and goes on to the
// module update.
TEST_F(InstallRun, NoLinkAtAllEndsWithStatus6) {
    offer("usehttp='1'");
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"http下载开始", "[LmUpdate.exe]httplinkfull为空或者下载失败，值为：",
                                "下载安装包完成 下载状态是：6", "升级包下载失败，结束程序!", "释放所有prism资源",
                                "创建静默下载内核对象成功，防止老版本后续再去下载", "无需静默下载或静默失败",
                                "正常升级线程结束"}));
    EXPECT_EQ(lineAt(lines, "check md5 success"), -1);
    EXPECT_FALSE(fs::exists(savedPackage()));
    EXPECT_EQ(recordedFile(), "");
}

// On a link the user pays for by the amount, a background run downloads only a package
// its document calls critical: no engine task, no HTTP download, no module update.
TEST_F(InstallRun, MeteredLinkHoldsBackAllButACriticalPackage) {
    struct Case {
        const char* cost;  // empty: not set
        const char* critical;
        bool downloads;
        const char* line;  // empty: none about the link
    } cases[] = {
        {"", "", true, ""},
        {"unrestricted", "", true, ""},
        {"metered", "", false, "metered network connection: this background run downloads nothing"},
        {"roaming", " critical='0'", false, "roaming network connection: this background run downloads nothing"},
        {"metered", " critical='1'", true,
         "metered network connection: critical update OrvixSetup_3.2.0.1.exe downloads all the same"},
        {"roaming", " critical='1'", true,
         "roaming network connection: critical update OrvixSetup_3.2.0.1.exe downloads all the same"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cost) + c.critical);
        InstallWorld run;
        HttpServer engineSide;
        engineSide.serve("/p2p/pkg", {run.m_package});
        run.offer(engineLink(engineSide.url("/p2p/pkg")) + c.critical);
        if (*c.cost) run.m_box.setEnv("OVUPDATE_NETWORK_COST", c.cost);

        std::vector<std::string> lines = run.runAgent();
        EXPECT_EQ(logged(lines, "prism download start"), c.downloads);
        EXPECT_EQ(engineSide.hits("/p2p/pkg"), c.downloads ? 1 : 0);
        EXPECT_EQ(fs::exists(run.savedPackage()), c.downloads);
        EXPECT_EQ(logged(lines, "下载安装包完成 下载状态是：2"), !c.downloads);
        EXPECT_EQ(run.m_documents.hits("/product/OvUpdate/upcfg.xml"), 0);  // the module update
        bool aboutTheLink = loggedPrefix(lines, "metered network") || loggedPrefix(lines, "roaming network");
        EXPECT_TRUE(*c.line ? logged(lines, c.line) : !aboutTheLink);
    }
}

// Behind a proxy that alone knows the download servers' name, the whole background run
// goes through it: the document, the package and the module update's GET. A proxy that
// turns the agent's credentials down is named in the log.
TEST(ProxiedRun, ReachesTheServersOnlyTheProxyKnows) {
    std::string why = testsupport::ProxyServer::unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::string host = "dl.behind-proxy.test";
    testsupport::ProxyServer proxy({host}, true);
    ASSERT_TRUE(proxy.listening()) << proxy.log();
    std::string through = proxy.url(testsupport::kProxyUser, testsupport::kProxyPassword);
    {
        InstallWorld run;
        std::string domain = "http://" + host + ":" + std::to_string(run.m_documents.port());
        run.m_box.setServers(domain);
        run.m_documents.serve("/pkg", {run.m_package});
        run.offer("usehttp='1' httplinkfull='" + domain + "/pkg'");
        run.m_box.setEnv("http_proxy", through);
        std::vector<std::string> lines = run.runAgent();
        EXPECT_TRUE(logged(lines, "升级成功。实用的是httplinkfull，值为：" + domain + "/pkg"));
        EXPECT_EQ(run.savedBytes(), run.m_package);
    }
    {
        // Refused: every document fails and the run goes into its retry schedule.
        InstallWorld run;
        std::string domain = "http://" + host + ":" + std::to_string(run.m_documents.port());
        run.m_box.setServers(domain);
        run.m_box.setEnv("http_proxy", proxy.url(testsupport::kProxyUser, "wrong"));
        std::unique_ptr<Process> agent = run.m_box.start();
        std::string line = "proxy " + proxy.url() + " refused " + domain +
                           "/product/OvUpdate/OvUpdate.xml: 407, no credentials it accepts";
        EXPECT_TRUE(waitUntil([&] { return logged(run.m_box.logLines(), "由于下载xml失败，现在开始重试..."); },
                              std::chrono::seconds(20)));
        agent->kill();
        EXPECT_EQ(countLogged(run.m_box.logLines(), line), 1);
        EXPECT_EQ(run.m_documents.requests().size(), 0u);
    }
    // The module GET: a document in which nothing applies leads to the module update.
    InstallWorld run;
    std::string domain = "http://" + host + ":" + std::to_string(run.m_documents.port());
    run.m_box.setServers(domain);
    run.offer("enable='0'");
    run.m_box.setEnv("http_proxy", through);
    runToEnd(run.m_box);
    EXPECT_EQ(run.m_documents.hits("/product/OvUpdate/upcfg.xml"), 1);
}

// A run whose download is cut and cannot go on keeps the partial; the next run asks only
// for the rest and installs the whole package; a run with no update leaves no partial.
TEST_F(InstallRun, CutDownloadResumesOnTheNextRunAndNoPartialOutlivesItsPurpose) {
    HttpServer http;
    size_t cut = m_package.size() * 9 / 10;
    http.serve("/pkg", [&](const testsupport::Request& r) {
        return http.hits("/pkg") == 1 ? testsupport::rangeReply(r, m_package, "\"p1\"", cut) : Reply{"", 503};
    });
    offer("usehttp='1' httplinkfull='" + http.url("/pkg") + "' filesize='" + std::to_string(m_package.size()) + "'");
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(logged(lines, "下载安装包完成 下载状态是：6"));
    fs::path partial = savedPackage().string() + ".partial";
    ASSERT_TRUE(fs::exists(partial));
    EXPECT_EQ(fs::file_size(partial), cut);

    http.clear();
    http.serve("/pkg", [&](const testsupport::Request& r) { return testsupport::rangeReply(r, m_package, "\"p1\""); });
    lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"resume download of " + savePath() + " after " + std::to_string(cut) + " bytes",
                                "升级成功。实用的是httplinkfull，值为：" + http.url("/pkg"), "check md5 success"}));
    ASSERT_EQ(http.requests().size(), 1u);
    EXPECT_EQ(http.requests()[0].header("Range"), "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(savedBytes(), m_package);
    EXPECT_FALSE(fs::exists(partial));

    fs::remove(savedPackage());
    writeFile(partial, m_package.substr(0, 1000));
    offer("usehttp='1' probability='0'");
    lines = runAgent();
    EXPECT_TRUE(logged(lines, "解析xml失败或者不满足升级条件"));
    EXPECT_FALSE(fs::exists(partial));
}
