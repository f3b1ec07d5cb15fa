// Free space on a small drive (a 20 MiB tmpfs that tests/download/
// with_small_drive.sh mounts and names in KORVAL_TEST_SMALL_DRIVE).
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/download/download_events.h"
#include "launcher/download/game_files_job.h"
#include "launcher/session/text_convert.h"

namespace {

std::wstring small_drive() {
    wchar_t buffer[16];
    DWORD n = GetEnvironmentVariableW(L"KORVAL_TEST_SMALL_DRIVE", buffer, 16);
    return n > 0 && n < 16 ? std::wstring(buffer, n) : std::wstring();
}

TEST(FreeSpace, TooLittleSpaceStopsBeforeAnyDownload) {
    ASSERT_TRUE(server_available());
    const std::wstring drive = small_drive();
    if (drive.empty()) GTEST_SKIP() << "no small drive (mounting one needs root)";
    const std::wstring game_dir = drive + L"\\Игры\\KORVAL";
    JobWindow window;
    clear_server_requests();

    const std::vector<GameFile> fits = {{"a.bin", pattern_bytes(3 * 1048576, 1)}};
    std::vector<GameFile> too_big = fits;
    too_big.push_back({"b.bin", pattern_bytes(24 * 1048576, 2)});
    publish_game(too_big);

    GameFilesRequest request;
    request.install_dir = wide_to_narrow(game_dir, CP_ACP);
    request.window = window.hwnd();
    begin_game_files_job(request);
    ASSERT_TRUE(window.pump_until_end());
    stop_game_files_job();
    EXPECT_EQ(window.start_game, 0);
    ULARGE_INTEGER free_bytes;
    ASSERT_TRUE(GetDiskFreeSpaceExW(game_dir.c_str(), &free_bytes, nullptr, nullptr));
    EXPECT_LT(free_bytes.QuadPart, 27ull * 1048576);
    EXPECT_EQ(window.last_event(),
              error_event_text("Недостаточно места",
                               "Для загрузки нужно 27 МБ, свободно " +
                                   format_megabytes(free_bytes.QuadPart) + " МБ."));
    for (const SeenRequest& r : seen_requests()) EXPECT_EQ(r.path, "/pc/manifest.json");

    // What fits is installed on the same drive.
    publish_game(fits);
    window.clear();
    begin_game_files_job(request);
    ASSERT_TRUE(window.pump_until_end());
    stop_game_files_job();
    EXPECT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_EQ(read_file(game_dir + L"\\a.bin"), fits[0].content);
    remove_tree(drive + L"\\Игры");
}

}  // namespace
