#include "fs/wide_path.h"

#include <windows.h>

heap_ptr<wchar_t> wide_path(const char* path) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) return heap_ptr<wchar_t>();
    heap_ptr<wchar_t> wide = heap_alloc<wchar_t>(static_cast<unsigned long long>(length));
    if (wide && MultiByteToWideChar(CP_ACP, 0, path, -1, wide.get(), length) != length) wide.reset();
    return wide;
}
