// korval.exe as a real process: its exit codes and the hand-over to the
// runtime beside it.
#include <gtest/gtest.h>

#include "stub_harness.h"

namespace {

struct SubprocessFolder {
    TempDir dir{L"подпроцесс korval"};
    std::wstring exe = dir.file(L"korval.exe");

    explicit SubprocessFolder(const wchar_t* variant) {
        CopyFileW((exe_dir() + L"\\korval.exe").c_str(), exe.c_str(), FALSE);
        if (variant)
            CopyFileW((exe_dir() + L"\\cef_stub_" + variant + L"\\libcef.dll").c_str(),
                      dir.file(L"libcef.dll").c_str(), FALSE);
    }
    std::string report() const { return read_file(dir.file(L"stub_report.txt")); }
};

}  // namespace

TEST(Subprocess, ExitCodesTellWhatWasMissing) {
    SubprocessFolder bare(nullptr);
    EXPECT_EQ(run_process(bare.exe, L"--type=renderer"), 1);
    SubprocessFolder lacking(L"lacking");
    EXPECT_EQ(run_process(lacking.exe, L"--type=renderer"), 2);
    EXPECT_EQ(lacking.report(), "");  // the hash was not called either
}

TEST(Subprocess, HandsControlToTheRuntimeAndEndsWithItsResult) {
    SubprocessFolder folder(L"full");
    write_file(folder.dir.file(L"stub_scenario.txt"), "execute_process_result 42\n");
    EXPECT_EQ(run_process(folder.exe, L"--type=renderer --lang=ru"), 42);
    EXPECT_EQ(folder.report(),
              "api_hash 14800 0\n"
              "execute_process instance=1 app=0 sandbox=0\n");

    // Started by hand, without a process type: the runtime's own answer.
    write_file(folder.dir.file(L"stub_scenario.txt"), "");
    EXPECT_EQ(run_process(folder.exe, L""), -1);
}
