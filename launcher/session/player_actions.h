#pragma once
// What the player does beside the first road from nick to game: pause,
// resume and cancel the game files job, the tools of an installed game
// (open its folder, check every file, choose another folder), help on an
// error (copy its text, open the log) and the engineering menu. Each is one
// page message; all of it runs on the window thread.
#include <cstdint>
#include <string>

void pause_game_files();
void resume_game_files();
void cancel_game_files();

void open_game_folder();
void verify_game_files();
// The nick and server as the nick message has them.
void change_game_folder(const std::string& nick, const std::string& server_id);

void copy_page_text(const std::string& text_utf8);
void open_log();
void show_engineering_menu();

// WM_FILES_CHECKED: the player's check ended with every file in place.
void game_files_checked(uint64_t repaired, uint64_t checked);
