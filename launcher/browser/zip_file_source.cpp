// The fall-back page archive read straight from its file, for the ZIP reader.
#include <new>

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "zip_source.h"

namespace {

class HandleSource : public ZipSource {
public:
    explicit HandleSource(UniqueHandle file) : file_(std::move(file)) {}

    bool read_at(uint64_t offset, size_t length, void* out) override {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN)) return false;
        unsigned char* to = static_cast<unsigned char*>(out);
        while (length > 0) {
            DWORD got = 0;
            if (!ReadFile(file_.get(), to, static_cast<DWORD>(length), &got, nullptr) || got == 0)
                return false;
            to += got;
            length -= got;
        }
        return true;
    }

private:
    UniqueHandle file_;
};

}  // namespace

extern "C" mz_bool mz_zip_reader_init_file(mz_zip_archive* pZip, const char* pFilename,
                                           mz_uint32 flags) {
    if (!pZip || pZip->m_pState || !pFilename) return 0;
    UniqueHandle file(CreateFileA(pFilename, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return 0;
    std::unique_ptr<ZipSource> source(new (std::nothrow) HandleSource(std::move(file)));
    return zip_reader_init_source(pZip, std::move(source), static_cast<uint64_t>(size.QuadPart));
}
