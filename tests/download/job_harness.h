#pragma once
// Runs the game files job against the test content server and watches what
// it posts, as the launcher's window would: a message-only window on the test
// thread collects the event texts (and frees them) and WM_START_GAME.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "test_support.h"

struct GameFile {
    std::string path;     // as in the manifest, relative with "/"
    std::string content;
};

extern const char GAME_BASE_PATH[];  // where the test manifests put the files

// Deterministic bytes: the same size and seed give the same content.
std::string pattern_bytes(size_t size, unsigned seed);

// The manifest text for `files` under GAME_BASE_PATH.
std::string manifest_for(const std::vector<GameFile>& files);

// Serves the files and their manifest at "/pc/manifest.json".
void publish_game(const std::vector<GameFile>& files);

// manifest_for with the block description `blocks` of the file `path` named
// in its entry (served at its path + ".blocks"), as tools/publish.py does.
std::string described_manifest(const std::vector<GameFile>& files, const std::string& path,
                               const std::string& blocks);

// The server paths requested since the last clear, with their Range header
// ("" when none), oldest first.
struct SeenRequest {
    std::string path;
    std::string range;
};
std::vector<SeenRequest> seen_requests();
int requests_for(const std::string& server_path);

class JobWindow {
public:
    JobWindow();
    ~JobWindow();
    JobWindow(const JobWindow&) = delete;
    JobWindow& operator=(const JobWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    // Dispatches this thread's messages until `done` holds or the time is up.
    bool pump_until(const std::function<bool()>& done, DWORD timeout_ms);
    // Until an error event or WM_START_GAME arrived.
    bool pump_until_end(DWORD timeout_ms = 60000);
    // Dispatches what is queued now.
    void drain();
    void clear();

    std::vector<std::string> events;
    int start_game = 0;

    bool ended() const;
    int count(const std::string& part) const;
    std::string last_event() const { return events.empty() ? std::string() : events.back(); }
    bool has_error() const { return count("\"type\":\"error\"") > 0; }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    HWND hwnd_ = nullptr;
};

// A test's install folder with a log, and the job run into it.
class JobFixtureBase {
public:
    JobFixtureBase();
    ~JobFixtureBase();

    TempDir dir{L"download"};
    std::wstring game_dir;    // dir\game
    JobWindow window;

    std::wstring local(const std::string& path) const;  // game_dir + path with "\"
    std::wstring index_path() const;
    std::string index_text() const;
    std::string log_text() const;

    void begin(bool fake_error = false);
    // Starts a job and waits for its end (error or start of the game).
    void run_job(bool fake_error = false);

private:
    std::wstring log_path_;
};

uint64_t file_time(const std::wstring& path);
// Sets a file's last write time (as file_time gives it); false when refused.
bool set_file_time(const std::wstring& path, uint64_t time);
