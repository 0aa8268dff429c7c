// The demo's simulator on Windows: qk42rt-sim.exe on loopback TCP (Windows has no pseudo-
// terminals), its first line read from a pipe.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "demo_simulator.h"

namespace qk42rt::cli {
namespace {

constexpr const wchar_t* kProgram = L"qk42rt-sim.exe";
constexpr auto kStartLimit = std::chrono::seconds(10);

std::string windows_error(std::string_view what) {
    return std::string(what) + ": Windows error " + std::to_string(GetLastError());
}

// The first of QK42RT_SIM, beside this program, in a build tree's tools/sim/ beside this
// program's tools/cli/; otherwise its name, for PATH.
std::wstring simulator_program() {
    if (const wchar_t* chosen = _wgetenv(L"QK42RT_SIM"); chosen != nullptr && *chosen != L'\0')
        return chosen;
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const auto folder = std::filesystem::path(self).parent_path();
        for (const auto& candidate : {folder / kProgram, folder.parent_path() / "sim" / kProgram}) {
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) return candidate.wstring();
        }
    }
    return kProgram;
}

std::string narrow(const std::wstring& text) {
    return std::filesystem::path(text).string();
}

}  // namespace

struct DemoSimulator::Process {
    PROCESS_INFORMATION info{};
    HANDLE output = nullptr;  // the read end of the simulator's standard output
    std::mutex mutex;
    std::condition_variable named;
    std::string first_line;
    bool ended = false;  // the pipe ended before a whole first line
};

DemoSimulator::DemoSimulator(const std::vector<std::string>& options)
    : process_(std::make_unique<Process>()) {
    const std::wstring program = simulator_program();
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(&process_->output, &write_end, &inherit, 0))
        throw std::runtime_error(windows_error("CreatePipe"));
    SetHandleInformation(process_->output, HANDLE_FLAG_INHERIT, 0);

    std::wstring command = L"\"" + program + L"\"";
    for (const std::string& word : options) {
        command += L' ' + std::filesystem::path(word).wstring();
    }
    command += L" --tcp 127.0.0.1:0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process_->info);
    CloseHandle(write_end);  // the simulator holds its own copy
    if (!started) {
        const std::string why = windows_error("cannot start the simulator " + narrow(program));
        CloseHandle(process_->output);
        throw std::runtime_error(why);
    }

    // Reads the first line for the constructor, then drains the rest (event lines), so that
    // the simulator never blocks on a full pipe.
    drain_ = std::thread([process = process_.get()] {
        std::string text;
        char buffer[256];
        DWORD got = 0;
        bool reported = false;
        while (ReadFile(process->output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            if (reported) continue;
            text.append(buffer, got);
            if (const auto end = text.find('\n'); end != std::string::npos) {
                std::lock_guard lock(process->mutex);
                process->first_line = text.substr(0, end);
                if (!process->first_line.empty() && process->first_line.back() == '\r')
                    process->first_line.pop_back();
                reported = true;
                process->named.notify_all();
            }
        }
        std::lock_guard lock(process->mutex);
        process->ended = true;
        process->named.notify_all();
    });

    std::string line;
    {
        std::unique_lock lock(process_->mutex);
        process_->named.wait_for(
            lock, kStartLimit, [this] { return !process_->first_line.empty() || process_->ended; });
        line = process_->first_line;
    }
    constexpr std::string_view kTcp = "tcp: ";
    if (!line.starts_with(kTcp)) {
        const std::string why = line.empty()
                                    ? "the simulator did not name its line"
                                    : "the simulator said '" + line + "' instead of its line";
        stop();
        throw std::runtime_error(narrow(program) + ": " + why);
    }
    device_ = "tcp://" + line.substr(kTcp.size());
}

// Windows has no SIGTERM; the demo's simulator keeps nothing that needs saving.
void DemoSimulator::stop() {
    TerminateProcess(process_->info.hProcess, 0);
    WaitForSingleObject(process_->info.hProcess, INFINITE);
    if (drain_.joinable()) drain_.join();  // the pipe ends with the simulator
    CloseHandle(process_->output);
    CloseHandle(process_->info.hThread);
    CloseHandle(process_->info.hProcess);
}

DemoSimulator::~DemoSimulator() {
    stop();
}

}  // namespace qk42rt::cli
