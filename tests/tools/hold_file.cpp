// Holds a file open as another program would (the host reading the last result, a
// scanner looking at a new picture): no write or delete sharing, so that nothing can
// replace it meanwhile. Prints "held" once it holds the file, lets it go after the given
// milliseconds. Windows only: hold_file.exe <path> <milliseconds>
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
