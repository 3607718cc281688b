// The prompt at a pseudo-console. Keys written to the console's input reach
// the prompt as the keyboard's would; at a terminal Ctrl+C never does (the
// terminal turns it into a signal), so the prompt's own handling of it is
// checked here.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::wstring probe_exe()
{
    const std::wstring tolvi = tolvi_exe();
    return tolvi.substr(0, tolvi.find_last_of(L'\\') + 1) + L"prompt_probe.exe";
}

struct ProbeRun {
    bool started = false;
    bool ended = false;
    DWORD exit_code = 0;
    std::string screen;  // what the pseudo-console sent, escape sequences included
};

// Starts the probe on a pseudo-console with one overwrite question, types
// `keys`, and waits (at most 20 s) for it to end.
ProbeRun run_probe_typing(const std::string& keys)
{
    ProbeRun run;
    HANDLE input_read = nullptr, input_write = nullptr, output_read = nullptr, output_write = nullptr;
    CreatePipe(&input_read, &input_write, nullptr, 0);
    CreatePipe(&output_read, &output_write, nullptr, 0);
    HPCON console = nullptr;
    if (FAILED(CreatePseudoConsole(COORD{80, 25}, input_read, output_write, 0, &console))) {
        return run;
    }
    std::mutex lock;
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output_read, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            const std::lock_guard<std::mutex> hold(lock);
            run.screen.append(buffer, got);
        }
    });
    auto screen_has = [&](const char* text) {
        const std::lock_guard<std::mutex> hold(lock);
        return run.screen.find(text) != std::string::npos;
    };

    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributes(size, '\0');
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console,
                              sizeof(console), nullptr, nullptr);
    std::wstring command = L"\"" + probe_exe() + L"\" /conout \"a.txt: Overwrite?\"";
    PROCESS_INFORMATION process{};
    run.started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                 EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startup.StartupInfo, &process) != 0;
    if (run.started) {
        for (int wait = 0; wait < 400 && !screen_has("(Yes/No/All)"); ++wait) {
            Sleep(50);
        }
        for (const char key : keys) {
            DWORD written = 0;
            WriteFile(input_write, &key, 1, &written, nullptr);
            Sleep(200);
        }
        run.ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
        if (!run.ended) {
            TerminateProcess(process.hProcess, 999);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        GetExitCodeProcess(process.hProcess, &run.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteProcThreadAttributeList(startup.lpAttributeList);
    ClosePseudoConsole(console);
    CloseHandle(input_write);
    CloseHandle(output_write);
    reader.join();
    CloseHandle(input_read);
    CloseHandle(output_read);
    return run;
}

} // namespace

TEST(PromptAtPseudoConsole, KeysTypedThereAnswerTheQuestion)
{
    const ProbeRun run = run_probe_typing("a\r");
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.ended) << run.screen;
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_NE(run.screen.find("answer=1 flag=1"), std::string::npos) << run.screen;
}

TEST(PromptAtPseudoConsole, CtrlCEndsTheProcessWithExitCodeOneAndNoAnswer)
{
    // Wine gap: Wine's pseudo-console drops a typed Ctrl+C (0x03) without
    // delivering it as a key or ending the process, so the Enter after it
    // confirms "y" (seen: "answer=1 flag=0"). The key's handling is covered
    // by the prompt's unit tests there; on Windows this test runs.
    if (under_wine()) {
        GTEST_SKIP() << "Wine's pseudo-console does not deliver Ctrl+C";
    }
    const ProbeRun run = run_probe_typing("y\x03\r");
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.ended) << run.screen;
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.screen.find("answer="), std::string::npos) << run.screen;
}
