#include "launcher/download/game_files_job.h"

#include <cstdio>
#include <memory>
#include <vector>

#include <shlobj.h>

#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/download_events.h"
#include "launcher/download/download_run.h"
#include "launcher/download/download_worker.h"
#include "launcher/download/file_index.h"
#include "launcher/download/local_file_hash.h"
#include "launcher/download/manifest.h"
#include "launcher/net/http_client.h"
#include "launcher/net/release_verify.h"
#include "launcher/session/text_convert.h"

namespace {

const char MANIFEST_PATH[] = "/pc/manifest.json";
const uint32_t MANIFEST_LIMIT_BYTES = 4194304;
const int WORKER_COUNT = 4;
const DWORD WATCH_INTERVAL_MS = 250;
const DWORD SPEED_INTERVAL_MS = 999;
const DWORD INDEX_SAVE_INTERVAL_MS = 14999;

const char TITLE_DOWNLOAD_ERROR[] = "Ошибка загрузки";
const char TITLE_CHECKING[] = "Проверка файлов";
const char FAKE_ERROR_MESSAGE[] =
    "Тест: обрыв загрузки (--fake-error). Нажмите «Повторить» — продолжится с того же места.";

// Everything one job works on. Its thread and its workers each hold a
// reference, so a job abandoned after the stop wait keeps its own state alive
// until its last thread ends, and the next job never sees it.
struct GameFilesJob {
    GameFilesRequest request;
    DownloadRun run;
    std::vector<ManifestEntry> entries;
    std::atomic<bool> downloading{false};
};

using JobRef = std::shared_ptr<GameFilesJob>;

// Window thread only.
JobRef current_job;
HANDLE job_thread = nullptr;

// Taken by a job around each index save and by the stop around setting the
// stop flag, so that once a stop has returned its job never writes the index
// again, even when the job outlives the stop's wait: by then the index may be
// the next job's.
SRWLOCK index_lock = SRWLOCK_INIT;

// The test failure fires once per process, whatever the number of jobs.
std::atomic<bool> fake_error_used{false};

bool stopped(const GameFilesJob& job) {
    return job.run.stop_requested.load() != 0 || job.run.pause_requested.load() != 0;
}

// A paused job still saves what it has; only a hard stop hands the index on.
bool hard_stopped(const GameFilesJob& job) { return job.run.stop_requested.load() != 0; }

// A stopped job says nothing more: its window may already belong to a newer job.
void post_progress(const GameFilesJob& job, const std::string& title, const std::string& details,
                   int percent, bool indeterminate, const ProgressFigures& figures) {
    if (!stopped(job))
        post_progress_event(job.request.window, title, details, percent, indeterminate, figures);
}


void post_error(const GameFilesJob& job, const std::string& title, const std::string& message) {
    if (!stopped(job)) post_download_error(job.request.window, title, message);
}

void save_index_unless_stopped(const GameFilesJob& job, const std::wstring& index_path) {
    AcquireSRWLockExclusive(&index_lock);
    if (!hard_stopped(job)) save_file_index(index_path, job.entries);
    ReleaseSRWLockExclusive(&index_lock);
}

std::string first_error_of(DownloadRun& run) {
    AcquireSRWLockShared(&run.lock);
    std::string message = run.first_error;
    ReleaseSRWLockShared(&run.lock);
    return message;
}

// The manifest is read only once it is trusted (verified, with release keys).
// False (with the page's error) when it did not: nothing is written, moved
// or started from such a manifest.
bool manifest_verified(const GameFilesJob& job, const std::string& manifest) {
    std::string reason;
    const bool verified =
        fetch_and_verify(SignedDocument::Manifest, MANIFEST_PATH, manifest, reason);
    if (stopped(job)) return false;
    if (verified) return true;
    log_line_bounded("!! download: manifest.json not verified: %s", reason.c_str());
    post_error(job, "Файлы не прошли проверку",
               "Файлы на сервере не прошли проверку подлинности, поэтому игра не будет "
               "обновлена и запущена. Сообщите администрации сервера и попробуйте позже.");
    return false;
}

// Steps up to the parsed manifest; false when the job has ended.
bool fetch_manifest(GameFilesJob& job, const std::wstring& install_dir) {
    std::string body;
    bool fetched = http_get_to_memory(MANIFEST_PATH, body, MANIFEST_LIMIT_BYTES);
    // A job stopped while it waited for the server goes no further: it must
    // not write the index beside a newer job.
    if (stopped(job)) return false;
    if (!fetched) {
        post_error(job, "Нет связи с сервером",
                   "Не удалось получить список файлов игры. Проверьте интернет и нажмите "
                   "«Повторить».");
        return false;
    }
    if (!manifest_verified(job, body)) return false;
    std::string error;
    if (!parse_manifest(body, install_dir, job.entries, error)) {
        job.entries.clear();
        post_error(job, "Ошибка обновления", error);
        return false;
    }
    uint64_t total = 0;
    for (const ManifestEntry& entry : job.entries) total += entry.size;
    log_line("download: manifest %u files, %s MB", static_cast<unsigned>(job.entries.size()),
             format_megabytes(total).c_str());
    return true;
}

// Hashes the doubtful files; those that do not match join `to_download`.
// False when a stop came first (then nothing is saved or posted).
bool hash_pass(GameFilesJob& job, const std::vector<ManifestEntry*>& to_hash,
               std::vector<ManifestEntry*>& to_download) {
    uint64_t total = 0;
    for (const ManifestEntry* entry : to_hash) total += entry->size;
    uint64_t hashed = 0;
    const unsigned n = static_cast<unsigned>(to_hash.size());
    for (unsigned i = 0; i < n; ++i) {
        ManifestEntry& entry = *to_hash[i];
        char details[96];
        std::snprintf(details, sizeof details, "Проверено %u из %u", i, n);
        post_progress(job, TITLE_CHECKING, details, total == 0 ? 0 : percent_of(hashed, total),
                      false, ProgressFigures{"check", hashed, total, i, n});
        FileState state = query_file_state(entry.local_path);
        if (!state.exists) state = FileState();
        std::string digest =
            hash_local_file(entry.local_path, state.size, job.run.abort, hashed);
        if (stopped(job)) return false;
        if (digest == entry.hash)
            entry.verified_time.store(state.time);
        else
            to_download.push_back(&entry);
    }
    return true;
}

// Runs with a reference of its own, like the job thread.
DWORD WINAPI worker_thread(LPVOID param) {
    std::unique_ptr<JobRef> job(static_cast<JobRef*>(param));
    return download_worker(&(*job)->run);
}

// `code` is the error of the last thread that did not start.
std::vector<HANDLE> start_workers(const JobRef& job, DWORD& code) {
    std::vector<HANDLE> workers;
    for (int i = 0; i < WORKER_COUNT; ++i) {
        JobRef* ref = new JobRef(job);
        HANDLE thread = CreateThread(nullptr, 0, worker_thread, ref, 0, nullptr);
        if (thread) {
            workers.push_back(thread);
        } else {
            code = GetLastError();
            delete ref;
            log_line("!! download: worker thread not started (%lu)", code);
        }
    }
    return workers;
}

std::string download_details(const DownloadRun& run, int64_t done_bytes, uint64_t need,
                             double speed) {
    unsigned count = static_cast<unsigned>(run.queue.size());
    unsigned current = static_cast<unsigned>(run.files_done.load()) + 1;
    if (current > count) current = count;
    return download_details_text(current, count, static_cast<uint64_t>(done_bytes), need, speed);
}

// The download phase: four workers watched every 250 ms. True when every
// queued file is in place; false when the job has ended otherwise.
bool download_phase(const JobRef& job_ref, const std::wstring& index_path, uint64_t need) {
    GameFilesJob& job = *job_ref;
    DownloadRun& run = job.run;
    job.downloading.store(true);
    DWORD start_error = 0;
    std::vector<HANDLE> workers = start_workers(job_ref, start_error);
    if (workers.empty())
        record_first_error(run, "Не удалось запустить загрузку (" + std::to_string(start_error) +
                                    ").");

    DWORD t_sample = GetTickCount();
    DWORD t_save = t_sample;
    int64_t bytes_at_sample = 0;
    double speed = 0.0;
    for (;;) {
        DWORD wait = workers.empty()
                         ? WAIT_FAILED
                         : WaitForMultipleObjects(static_cast<DWORD>(workers.size()),
                                                  workers.data(), TRUE, WATCH_INTERVAL_MS);
        int64_t done = static_cast<int64_t>(run.downloaded_bytes.load());
        DWORD now = GetTickCount();
        if (now - t_sample > SPEED_INTERVAL_MS) {
            double instant = static_cast<double>(done - bytes_at_sample) * 1000.0 /
                             static_cast<double>(now - t_sample) / 1048576.0;
            speed = speed == 0.0 ? instant : 0.6 * speed + 0.4 * instant;
            t_sample = now;
            bytes_at_sample = done;
        }
        int64_t threshold = static_cast<int64_t>(run.fake_error_threshold.load());
        if (threshold >= 0 && done >= threshold && run.error_recorded.load() == 0) {
            run.fake_error_threshold.store(UINT64_MAX);
            fake_error_used.store(true);
            record_first_error(run, FAKE_ERROR_MESSAGE);
        }

        if (wait != WAIT_TIMEOUT) {
            // A failed wait must not end the job while workers run on: they
            // are told to stop, and their references keep the job alive.
            if (wait == WAIT_FAILED) run.abort.store(1);
            for (HANDLE worker : workers) CloseHandle(worker);
            job.downloading.store(false);
            save_index_unless_stopped(job, index_path);
            if (stopped(job)) return false;
            if (run.error_recorded.load() != 0) {
                post_error(job, TITLE_DOWNLOAD_ERROR, first_error_of(run));
                return false;
            }
            // Workers end early only on a recorded error, so files left over
            // mean the phase itself broke: never report that as success.
            if (static_cast<size_t>(run.files_done.load()) != run.queue.size()) {
                post_error(job, TITLE_DOWNLOAD_ERROR, "Загрузка прервана. Нажмите «Повторить».");
                return false;
            }
            return true;
        }

        if (now - t_save > INDEX_SAVE_INTERVAL_MS) {
            save_index_unless_stopped(job, index_path);
            t_save = now;
        }
        uint64_t shown = done < 0 ? 0 : static_cast<uint64_t>(done);
        // Bytes taken from older local copies are never fetched.
        const uint64_t reused = run.reused_bytes.load();
        const uint64_t to_fetch = need > reused ? need - reused : 0;
        int percent = percent_of(shown, to_fetch);
        // A failed attempt takes its bytes back, and the average with them.
        const ProgressFigures figures{"download", shown, to_fetch,
                                      static_cast<uint64_t>(run.files_done.load()),
                                      run.queue.size(),
                                      speed > 0.0 ? static_cast<uint64_t>(speed * 1048576.0) : 0};
        post_progress(job, "Скачивание ресурсов игры",
                      download_details(run, done < 0 ? 0 : done, to_fetch, speed), percent, false,
                      figures);
    }
}

void run_game_files_job(const JobRef& job_ref) {
    GameFilesJob& job = *job_ref;
    const std::wstring install_dir = utf8_to_wide(job.request.install_dir, CP_ACP);
    const std::wstring index_path = install_dir + L"\\" + FILE_INDEX_NAME;

    post_progress(job, "Проверка обновлений...", "Получение списка файлов", 0, true,
                  ProgressFigures{"manifest"});
    if (!fetch_manifest(job, install_dir)) return;

    FileIndex index = load_file_index(index_path);
    std::vector<ManifestEntry*> to_hash;
    std::vector<ManifestEntry*> to_download;
    for (ManifestEntry& entry : job.entries) {
        // The player's check trusts no index: every present file is hashed.
        Classification c = job.request.verify_all && query_file_state(entry.local_path).exists
                               ? Classification{EntryClass::NeedsHash}
                               : classify_entry(entry, index);
        if (c.kind == EntryClass::Trusted)
            entry.verified_time.store(c.time);
        else if (c.kind == EntryClass::NeedsDownload)
            to_download.push_back(&entry);
        else
            to_hash.push_back(&entry);
    }
    index.clear();
    if (stopped(job) || !hash_pass(job, to_hash, to_download)) return;
    // Hashed files that failed were appended; the workers take the files in
    // manifest order.
    if (!to_hash.empty()) {
        std::vector<char> pending(job.entries.size(), 0);
        for (ManifestEntry* entry : to_download) pending[entry - job.entries.data()] = 1;
        to_download.clear();
        for (size_t i = 0; i < job.entries.size(); ++i)
            if (pending[i]) to_download.push_back(&job.entries[i]);
    }
    // The index's place: a folder that is not there yet would lose this save.
    SHCreateDirectoryExW(nullptr, install_dir.c_str(), nullptr);
    save_index_unless_stopped(job, index_path);

    uint64_t need = 0;
    for (const ManifestEntry* entry : to_download) need += entry->size;
    log_line("download: %u files ok, %u to download (%s MB)",
             static_cast<unsigned>(job.entries.size() - to_download.size()),
             static_cast<unsigned>(to_download.size()), format_megabytes(need).c_str());

    if (stopped(job)) return;
    if (!to_download.empty()) {
        ULARGE_INTEGER available;
        if (GetDiskFreeSpaceExW(install_dir.c_str(), &available, nullptr, nullptr) &&
            available.QuadPart < need) {
            post_error(job, "Недостаточно места",
                       "Для загрузки нужно " + format_megabytes(need) + " МБ, свободно " +
                           format_megabytes(available.QuadPart) + " МБ.");
            return;
        }
        DownloadRun& run = job.run;
        // The run is this job's own: its abort flag is clear unless a stop
        // already set it, and copying stop_requested into it could undo a
        // stop that lands in between.
        run.queue = to_download;
        if (job.request.fake_error && !fake_error_used.load())
            run.fake_error_threshold.store(need * 3 / 10);
        if (!download_phase(job_ref, index_path, need)) return;
    }

    const uint64_t reused = job.run.reused_bytes.load();
    const uint64_t fetched = need > reused ? need - reused : 0;
    post_progress(job, TITLE_CHECKING, "Все файлы на месте", 100, false,
                  ProgressFigures{"done", fetched, fetched, to_download.size(),
                                  to_download.size()});
    if (reused == 0)
        log_line("download: done, %u files, %s MB downloaded",
                 static_cast<unsigned>(to_download.size()), format_megabytes(need).c_str());
    else
        log_line("download: done, %u files, %s MB downloaded, %s MB taken from older copies",
                 static_cast<unsigned>(to_download.size()), format_megabytes(fetched).c_str(),
                 format_megabytes(reused).c_str());
    if (stopped(job)) return;
    if (job.request.verify_all)
        PostMessageW(job.request.window, WM_FILES_CHECKED, to_download.size(), job.entries.size());
    else
        PostMessageW(job.request.window, WM_START_GAME, 0, 0);
}

DWORD WINAPI job_thread_proc(LPVOID param) {
    std::unique_ptr<JobRef> job(static_cast<JobRef*>(param));
    run_game_files_job(*job);
    return 0;
}

}  // namespace

void stop_game_files_job(JobStop how) {
    if (!job_thread) return;
    DownloadRun& run = current_job->run;
    AcquireSRWLockExclusive(&index_lock);
    if (how == JobStop::Pause)
        run.pause_requested.store(1);
    else
        run.stop_requested.store(1);
    run.abort.store(1);
    ReleaseSRWLockExclusive(&index_lock);
    if (WaitForSingleObject(job_thread, JOB_STOP_WAIT_MS) != WAIT_OBJECT_0) {
        log_line("!! download: the job did not stop within %lu ms; left to end on its own",
                 static_cast<unsigned long>(JOB_STOP_WAIT_MS));
        // From here on the index may be the next job's.
        AcquireSRWLockExclusive(&index_lock);
        run.stop_requested.store(1);
        ReleaseSRWLockExclusive(&index_lock);
    }
    CloseHandle(job_thread);
    job_thread = nullptr;
    current_job.reset();
}

bool game_files_job_downloading() {
    return job_thread && current_job->downloading.load() &&
           WaitForSingleObject(job_thread, 0) == WAIT_TIMEOUT;
}

void begin_game_files_job(const GameFilesRequest& request) {
    stop_game_files_job();
    JobRef job = std::make_shared<GameFilesJob>();
    job->request = request;
    log_line("download: started into '%s'%s%s", request.install_dir.c_str(),
             request.verify_all ? ", checking every file" : "",
             request.fake_error && !fake_error_used.load()
                 ? ", --fake-error: will break once at 30%"
                 : "");
    JobRef* ref = new JobRef(job);
    HANDLE thread = CreateThread(nullptr, 0, job_thread_proc, ref, 0, nullptr);
    if (!thread) {
        const DWORD code = GetLastError();
        delete ref;
        post_download_error(request.window, TITLE_DOWNLOAD_ERROR,
                            "Не удалось запустить загрузку (" + std::to_string(code) + ").");
        return;
    }
    current_job = job;
    job_thread = thread;
}
