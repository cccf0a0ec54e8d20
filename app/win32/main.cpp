#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/win32/CDownloadApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    // The player file goes to the shared layers' narrow file functions, which read names in the
    // ANSI code page: the arguments are converted to it.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; argv != nullptr && i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_ACP, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
        WideCharToMultiByte(CP_ACP, 0, argv[i], -1, arg.data(), length, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    LocalFree(argv);
    qdx::app::CDownloadApp app;
    return app.Run(instance, args);
}
