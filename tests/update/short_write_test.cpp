// Writes that the system reports as done but that took fewer bytes than
// offered. A pipe in non-blocking mode with no reader does this on Windows and
// under Wine alike, as a full disk can: success, a short count, and no error
// code of its own.
#include <gtest/gtest.h>

#include <atomic>

#include "content_server_support.h"
#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "test_support.h"

namespace {

TEST(ShortWrite, FileTransferReportsAWriteFaultNotAnEarlierCode) {
    ASSERT_TRUE(server_available());
    clear_server_faults();
    ASSERT_TRUE(put_server_file("/files/short.bin", std::string(300000, 's')));

    const wchar_t name[] = L"\\\\.\\pipe\\korval_short_write";
    UniqueHandle reader(CreateNamedPipeW(name, PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                         4096, 4096, 0, nullptr));
    ASSERT_TRUE(reader.valid()) << GetLastError();
    UniqueHandle writer(CreateFileW(name, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid()) << GetLastError();
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(writer.get(), &mode, nullptr, nullptr));

    std::atomic<uint64_t> progress{0};
    std::atomic<int32_t> stop{0};
    std::string error;
    bool discard = true;
    EXPECT_FALSE(http_get_to_file("/files/short.bin", 0, writer.get(), nullptr, progress, stop,
                                  error, discard));
    EXPECT_EQ(error, "не удалось записать на диск (29)");
    EXPECT_FALSE(discard);
    EXPECT_EQ(progress.load(), 0u) << "a block not written in full is not counted";
}

}  // namespace
