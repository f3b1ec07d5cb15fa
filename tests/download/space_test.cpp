// Free space on a small drive (a 20 MiB tmpfs that tests/download/
// with_small_drive.sh mounts and names in KORVAL_TEST_SMALL_DRIVE).
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/core/log.h"
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

// The drive fills up during a transfer: the message carries the disk's own
// error code, also when the write that ran out of room succeeded short.
TEST(FreeSpace, DriveFilledDuringTheDownloadReportsDiskFull) {
    ASSERT_TRUE(server_available());
    const std::wstring drive = small_drive();
    if (drive.empty()) GTEST_SKIP() << "no small drive (mounting one needs root)";
    const std::wstring game_dir = drive + L"\\full";
    TempDir dir{L"space"};
    const std::wstring log_path = dir.file(L"korval_launcher.log");
    log_open(wide_to_narrow(log_path, CP_ACP), false);
    JobWindow window;
    clear_server_faults();
    const std::vector<GameFile> files = {{"big.bin", pattern_bytes(8 * 1048576, 3)}};
    publish_game(files);
    // A write a second: the filler below must land between two of them.
    set_server_faults(R"({"/pc/files/big.bin": {"trickle": [65536, 1000]}})");

    GameFilesRequest request;
    request.install_dir = wide_to_narrow(game_dir, CP_ACP);
    request.window = window.hwnd();
    begin_game_files_job(request);
    const std::wstring part = game_dir + L"\\big.bin.part";
    ASSERT_TRUE(window.pump_until(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            return GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &data) &&
                   data.nFileSizeLow > 0;
        },
        20000));
    // Another program takes all but 40 KiB: less than one block of the
    // transfer, so the next write succeeds short and the one after fails.
    // Tried again when a write of the download came in between.
    const std::wstring filler = drive + L"\\filler.bin";
    bool filled = false;
    for (int i = 0; i < 10 && !filled; ++i) {
        ULARGE_INTEGER free_bytes;
        ASSERT_TRUE(GetDiskFreeSpaceExW(game_dir.c_str(), &free_bytes, nullptr, nullptr));
        filled = write_file(filler, std::string(static_cast<size_t>(free_bytes.QuadPart) - 40960, 'f'));
        if (!filled) DeleteFileW(filler.c_str());
    }
    ASSERT_TRUE(filled);
    ASSERT_TRUE(window.pump_until_end(30000));
    stop_game_files_job();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.last_event(),
              error_event_text("Ошибка загрузки", "Не удалось загрузить файл 'big.bin': не "
                                                  "удалось записать на диск (112)."));
    std::string log = read_file(log_path);
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(contains(log, "download: big.bin attempt " + std::to_string(attempt) +
                                      ": не удалось записать на диск (112)\r\n"))
            << log;
    DeleteFileW(filler.c_str());
    log_close();
    remove_tree(game_dir);
}

}  // namespace
