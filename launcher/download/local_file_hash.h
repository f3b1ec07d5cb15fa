#pragma once
// The job's check of a local file whose index line does not vouch for it.
#include <atomic>
#include <cstdint>
#include <string>

// SHA-256 of the first `size` bytes of the file, read in 1 MiB pieces with a
// sequential-scan hint; each piece read is added to `hashed_bytes`. Empty when
// the file cannot be opened or read in full, or when `stop` is set meanwhile:
// an empty digest matches no manifest hash.
std::string hash_local_file(const std::wstring& path, uint64_t size,
                            const std::atomic<int32_t>& stop, uint64_t& hashed_bytes);
