// The install folder: the rules every candidate goes through, the product
// folder appended to picked folders, the default proposal, creation, and the
// system folder dialog. Small and read-only drives come from
// tests/session/with_test_drives.sh, the strict drive (folders in its root,
// no files, like Windows' system drive) from tests/session/with_strict_drive.sh.
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include "launcher/session/install_dir.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

const char NOT_LOCAL[] = "Выберите папку на локальном диске.";
const char CHARACTERS[] =
    "В пути есть символы, с которыми игра не запустится. Выберите другую папку.";
const char NO_DRIVE[] = "Диск недоступен.";
const char NO_WRITE[] =
    "Нет прав на запись в эту папку. Выберите другую (например, не Program Files).";
const char NO_SPACE[] = "Недостаточно места на диске.";

std::string utf8(const std::wstring& text) { return wide_to_narrow(text, CP_UTF8); }

std::wstring drive_from_env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? utf8_to_wide(value) : std::wstring();
}

void put_game(const std::wstring& folder) {
    ASSERT_TRUE(write_file(folder + L"\\gta_sa.exe", "MZ"));
    ASSERT_TRUE(write_file(folder + L"\\samp.exe", "MZ"));
}

// A drive letter that names nothing in this prefix.
std::wstring missing_drive() {
    DWORD mask = GetLogicalDrives();
    for (int bit = 25; bit >= 2; --bit)
        if (!(mask & (1u << bit))) return std::wstring(1, wchar_t(L'A' + bit)) + L":";
    return std::wstring();
}

TEST(InstallDirPath, NearestExistingFolderWalksUpToTheRoot) {
    TempDir dir;
    EXPECT_EQ(nearest_existing_folder(dir.path()), dir.path());
    EXPECT_EQ(nearest_existing_folder(dir.path() + L"\\a\\b/c"), dir.path());
    EXPECT_EQ(nearest_existing_folder(L"C:\\no-such-folder-kvl\\x"), L"C:\\");
    EXPECT_EQ(nearest_existing_folder(L"C:\\"), L"C:\\");
    EXPECT_EQ(nearest_existing_folder(L"relative"), L"");
    EXPECT_EQ(nearest_existing_folder(L"\\\\server\\share"), L"");
    const std::wstring gone = missing_drive();
    ASSERT_FALSE(gone.empty());
    EXPECT_EQ(nearest_existing_folder(gone + L"\\Games\\KORVAL"), L"");
    EXPECT_EQ(nearest_existing_folder(gone + L"\\"), L"");
}

TEST(InstallDirPath, TrailingSeparatorsAreTrimmedButTheRootKeepsItsOwn) {
    TempDir dir;
    EXPECT_EQ(check_install_dir(utf8(dir.path()) + "\\", false).path, utf8(dir.path()));
    EXPECT_EQ(check_install_dir(utf8(dir.path()) + "//", false).path, utf8(dir.path()));
    EXPECT_EQ(check_install_dir("C:\\", false).path, "C:\\");
}

TEST(InstallDirPath, PickedFoldersGetTheProductFolderOnlyWhenTheyHoldSomething) {
    TempDir dir;
    const std::wstring games = dir.file(L"Игры");
    const std::wstring empty = dir.file(L"Пусто");
    const std::wstring game = dir.file(L"Игра");
    ASSERT_TRUE(CreateDirectoryW(games.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    ASSERT_TRUE(write_file(games + L"\\other.txt", "x"));
    put_game(game);

    EXPECT_EQ(check_install_dir(utf8(games), true).path, utf8(games) + "\\KORVAL");
    EXPECT_EQ(check_install_dir(utf8(games) + "\\", true).path, utf8(games) + "\\KORVAL");
    // Typed into the page rather than picked: used as it stands.
    EXPECT_EQ(check_install_dir(utf8(games), false).path, utf8(games));
    EXPECT_EQ(check_install_dir(utf8(empty), true).path, utf8(empty));
    const InstallDirCheck present = check_install_dir(utf8(game), true);
    EXPECT_EQ(present.path, utf8(game));
    EXPECT_TRUE(present.game_present);
    // A file of that name is no folder to append to.
    EXPECT_EQ(check_install_dir(utf8(games) + "\\other.txt", true).path,
              utf8(games) + "\\other.txt");

    // An unfinished install of this launcher is resumed where it is; another
    // program's partial (a browser's downloads folder) is no sign of one.
    for (const wchar_t* own : {L"korval_files.idx", L"gta_sa.exe.part", L"samp.exe.part"}) {
        TempDir unfinished;
        ASSERT_TRUE(write_file(unfinished.file(own), "x"));
        EXPECT_EQ(check_install_dir(utf8(unfinished.path()), true).path, utf8(unfinished.path()))
            << utf8(own);
    }
    TempDir downloads;
    ASSERT_TRUE(write_file(downloads.file(L"setup.exe.part"), "x"));
    EXPECT_EQ(check_install_dir(utf8(downloads.path()), true).path,
              utf8(downloads.path()) + "\\KORVAL");
}

TEST(InstallDirRules, PathsOffTheLocalDiskAndOutsideTheCodePageAreRefused) {
    EXPECT_EQ(check_install_dir("\\\\server\\share\\Games", false).error, NOT_LOCAL);
    EXPECT_EQ(check_install_dir("Games\\KORVAL", false).error, NOT_LOCAL);
    EXPECT_EQ(check_install_dir("C:", false).error, NOT_LOCAL);
    EXPECT_EQ(check_install_dir("C:Games", false).error, NOT_LOCAL);
    EXPECT_EQ(check_install_dir("", false).error, NOT_LOCAL);

    // Cyrillic is the players' code page; a Chinese character is not, even in
    // a folder that exists.
    TempDir dir;
    const std::wstring chinese = dir.file(L"游戏");
    ASSERT_TRUE(CreateDirectoryW(chinese.c_str(), nullptr));
    EXPECT_EQ(check_install_dir(utf8(chinese), false).error, CHARACTERS);
    EXPECT_NE(check_install_dir(utf8(dir.file(L"Игры")), false).error, CHARACTERS);
}

TEST(InstallDirRules, AFolderOnARemovedDriveReportsTheDrive) {
    const std::wstring gone = missing_drive();
    const InstallDirCheck check = check_install_dir(utf8(gone + L"\\Games\\KORVAL"), false);
    EXPECT_EQ(check.error, NO_DRIVE);
    EXPECT_EQ(check.free_bytes, 0u);
}

TEST(InstallDirRules, ANewFolderIsMeasuredOnItsNearestParent) {
    TempDir dir;
    const InstallDirCheck check = check_install_dir(utf8(dir.file(L"а\\б\\в")), false);
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExW(dir.path().c_str(), &available, nullptr, nullptr));
    // Other programs write to the same disk meanwhile: near enough is exact.
    const uint64_t slack = 256ull << 20;
    EXPECT_LT(check.free_bytes, available.QuadPart + slack);
    EXPECT_GT(check.free_bytes + slack, available.QuadPart);
    // This disk's free space is the machine's: only the space rule may refuse.
    EXPECT_TRUE(check.error.empty() || check.error == NO_SPACE) << check.error;
    EXPECT_FALSE(file_exists(dir.file(L"а")));
    // The write test leaves nothing behind.
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir.path() + L"\\kvl*").c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(InstallDirRules, ASmallDriveFailsTheSpaceRuleUnlessTheGameIsThere) {
    const std::wstring drive = drive_from_env("KORVAL_TEST_SMALL_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no small drive (mounting one needs root)";
    const InstallDirCheck fresh = check_install_dir(utf8(drive + L"\\Games\\KORVAL"), false);
    EXPECT_EQ(fresh.error, NO_SPACE);
    EXPECT_GT(fresh.free_bytes, 0u);
    EXPECT_LT(fresh.free_bytes, 21u << 20);

    const std::wstring game = drive + L"\\Игра";
    ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    put_game(game);
    const InstallDirCheck present = check_install_dir(utf8(game), false);
    EXPECT_TRUE(present.game_present);
    EXPECT_EQ(present.error, "");
    remove_tree(game);
}

TEST(InstallDirRules, APickedDriveRootGetsTheProductFolder) {
    const std::wstring drive = drive_from_env("KORVAL_TEST_SMALL_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no small drive (mounting one needs root)";
    EXPECT_EQ(check_install_dir(utf8(drive + L"\\"), true).path, utf8(drive) + "\\KORVAL");
}

TEST(InstallDirRules, AReadOnlyDriveFailsTheWriteRuleBeforeTheSpaceRule) {
    const std::wstring drive = drive_from_env("KORVAL_TEST_READONLY_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no read-only drive (mounting one needs root)";
    EXPECT_EQ(check_install_dir(utf8(drive + L"\\Игры\\KORVAL"), false).error, NO_WRITE);
    EXPECT_EQ(check_install_dir(utf8(drive + L"\\Игры"), true).error, NO_WRITE);
    EXPECT_EQ(check_install_dir(utf8(drive + L"\\Games\\KORVAL"), false).error, NO_WRITE);
}

// Like Windows' system drive for a standard user: folders may be made in its
// root, files may not; below the root everything may be written.
TEST(InstallDirRules, AStrictDriveRootTakesTheInstallFolderButNoFiles) {
    const std::wstring drive = drive_from_env("KORVAL_TEST_STRICT_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no strict drive (mounting one needs root and FUSE)";
    ASSERT_FALSE(write_file(drive + L"\\probe.txt", "x")) << "the drive is not strict";

    const InstallDirCheck fresh = check_install_dir(utf8(drive + L"\\Games\\KORVAL"), false);
    EXPECT_EQ(fresh.error, "");
    EXPECT_GT(fresh.free_bytes, NEED_BYTES);
    EXPECT_FALSE(file_exists(drive + L"\\Games")) << "the check left its folder behind";

    const std::wstring existing = drive + L"\\Игры";
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    EXPECT_EQ(check_install_dir(utf8(existing), false).error, "");
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((existing + L"\\kvl*").c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "the write test left its file behind";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    remove_tree(existing);

    EXPECT_EQ(check_install_dir(utf8(drive + L"\\"), false).error, NO_WRITE);
}

TEST(InstallDirDefault, TheFixedDriveWithMostSpaceWinsAndTiesKeepTheEarlierLetter) {
    auto fixed = [](wchar_t letter, uint64_t free_bytes) {
        DriveSpace drive;
        drive.letter = letter;
        drive.type = DRIVE_FIXED;
        drive.free_known = true;
        drive.free_bytes = free_bytes;
        return drive;
    };
    EXPECT_EQ(default_install_dir_among({}), "C:\\Games\\KORVAL");
    EXPECT_EQ(default_install_dir_among({fixed(L'C', 5), fixed(L'D', 9), fixed(L'E', 7)}),
              "D:\\Games\\KORVAL");
    EXPECT_EQ(default_install_dir_among({fixed(L'D', 9), fixed(L'E', 9)}), "D:\\Games\\KORVAL");

    DriveSpace removable = fixed(L'F', 1000);
    removable.type = DRIVE_REMOVABLE;
    DriveSpace unanswered = fixed(L'G', 1000);
    unanswered.free_known = false;
    EXPECT_EQ(default_install_dir_among({fixed(L'C', 5), removable, unanswered}),
              "C:\\Games\\KORVAL");
    EXPECT_EQ(default_install_dir_among({fixed(L'B', 1000), removable}), "C:\\Games\\KORVAL");

    // This prefix has a C: drive at least; whatever wins is a fixed drive.
    const std::string proposed = default_install_dir();
    ASSERT_EQ(proposed.size(), 15u);
    EXPECT_EQ(proposed.substr(1), ":\\Games\\KORVAL");
    const wchar_t root[] = {wchar_t(proposed[0]), L':', L'\\', 0};
    EXPECT_EQ(GetDriveTypeW(root), UINT(DRIVE_FIXED));
    // The strict drive has the most free space: the proposal goes there and
    // passes, as C:\Games\KORVAL must on a fresh Windows.
    const std::wstring strict = drive_from_env("KORVAL_TEST_STRICT_DRIVE");
    if (strict.empty()) return;
    EXPECT_EQ(proposed, utf8(strict) + "\\Games\\KORVAL");
    EXPECT_EQ(check_install_dir(proposed, false).error, "");
}

TEST(InstallDirCreate, CreatesParentsAcceptsAnExistingFolderAndRefusesAFile) {
    TempDir dir;
    std::string error;
    const std::wstring deep = dir.file(L"Игры\\KORVAL\\data");
    EXPECT_TRUE(create_install_dir(utf8(deep), error)) << error;
    EXPECT_TRUE(file_exists(deep));
    EXPECT_TRUE(create_install_dir(utf8(deep), error)) << error;

    ASSERT_TRUE(write_file(dir.file(L"file"), "x"));
    EXPECT_FALSE(create_install_dir(utf8(dir.file(L"file")), error));
    EXPECT_EQ(error.rfind("Не удалось создать папку (ошибка ", 0), 0u) << error;

    const std::wstring ro = drive_from_env("KORVAL_TEST_READONLY_DRIVE");
    if (ro.empty()) return;
    error.clear();
    EXPECT_FALSE(create_install_dir(utf8(ro + L"\\Новая"), error));
    EXPECT_EQ(error.rfind("Не удалось создать папку (ошибка ", 0), 0u) << error;
}

// The dialog is driven from a second thread as a user would: the folder is
// typed into the name box and confirmed, or the dialog is cancelled.
HWND find_dialog() {
    for (int i = 0; i < 100; ++i) {
        HWND dialog = FindWindowW(L"#32770", L"Куда установить игру KORVAL");
        if (dialog) return dialog;
        Sleep(50);
    }
    return nullptr;
}

TEST(InstallDirDialog, ReturnsTheTypedFolderAndNothingWhenCancelled) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    TempDir dir;
    const std::wstring target = dir.file(L"Игры");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));

    bool seen = false;
    std::thread user([&] {
        HWND dialog = find_dialog();
        if (!dialog) return;
        seen = true;
        Sleep(200);
        SetDlgItemTextW(dialog, 1152, target.c_str());
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    std::string picked;
    const bool ok = pick_install_dir(nullptr, utf8(dir.file(L"нет\\такой")), picked);
    user.join();
    ASSERT_TRUE(seen) << "no folder dialog appeared";
    EXPECT_TRUE(ok);
    EXPECT_EQ(picked, utf8(target));

    std::thread cancel([&] {
        HWND dialog = find_dialog();
        if (dialog) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    picked.clear();
    EXPECT_FALSE(pick_install_dir(nullptr, utf8(target), picked));
    cancel.join();
    EXPECT_EQ(picked, "");
    CoUninitialize();
}

}  // namespace
