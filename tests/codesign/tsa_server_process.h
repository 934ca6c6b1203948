// tsa_server.py run for one test program: the Wine process starts the Linux Python, waits for
// the port the server writes to a file, and asks the server to stop at the end (the server also
// stops when the program that started it ends).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "codesign/http_exchange.h"
#include "codesign/url.h"

namespace test {

class TsaServerProcess {
public:
    // Starts the server with its keys and certificates in `dir` (made there with `openssl`);
    // the port, or 0 when it did not start within a minute.
    static int Start(const std::string& python, const std::string& script, const std::string& openssl,
                     const std::string& dir) {
        CreateDirectoryA(dir.c_str(), nullptr);
        const std::string port_file = dir + "/port";
        DeleteFileA(port_file.c_str());
        DeleteFileA((dir + "/mismatch.txt").c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + WindowsPath(python) + L"\"";
        for (const std::string& argument : {script, std::string("--openssl"), openssl, std::string("--dir"), dir,
                                            std::string("--port-file"), port_file}) {
            command += L" " + std::wstring(argument.begin(), argument.end());
        }
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            return 0;
        }
        if (process.hThread) CloseHandle(process.hThread);
        if (process.hProcess) CloseHandle(process.hProcess);
        // Key and certificate generation takes a few seconds.
        int port = 0;
        for (int i = 0; i < 600 && port == 0; ++i) {
            Sleep(100);
            std::ifstream in(port_file);
            std::ostringstream text;
            text << in.rdbuf();
            port = atoi(text.str().c_str());
        }
        return port;
    }

    static void Stop(int port) {
        if (port == 0) return;
        ombrix::ParsedUrl url;
        ombrix::ParseUrl("http://127.0.0.1:" + std::to_string(port) + "/shutdown", url);
        ombrix::Buffer request, response;
        ombrix::ComposeHttpPost(url.host_name, url.path, "a", "b", nullptr, 0, request);
        ombrix::HttpPostExchange(url, request, ombrix::HttpExchangeLimits{}, response);
    }

    static std::wstring WindowsPath(const std::string& unix_path) {
        std::wstring path = L"Z:";
        for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        return path;
    }
};

}  // namespace test
