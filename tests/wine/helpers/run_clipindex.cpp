// The launcher: starts a program with a command line given byte for byte (CreateProcessA, nothing
// added or quoted), answers the message boxes that this process shows, in order, and reports each box
// and the exit code. Only boxes of the started process are looked at, so a box of any other run is
// never answered here.
//
// usage: run_clipindex APPLICATION COMMAND_LINE [picture=PATH] ANSWER...
//   APPLICATION   the program file as hex bytes, or "-" to let the system take it from the command
//                 line (as the programs list starts an uninstall string)
//   COMMAND_LINE  the whole command line as hex bytes ("-" for an empty one)
//   picture=PATH  saves the first box as a PPM picture at PATH (a Windows path); pictureN=PATH saves
//                 box N (picture2=PATH: the second box)
//   ANSWER        yes, no, ok or close, one for each box expected; user leaves the box to a person at
//                 the screen and waits for it to go (the run may then take ten minutes)
// A box beyond the answers given is reported as well, then dismissed (No, OK or Cancel) so that the
// run can end. Report lines:
//   box N caption=HEX text=HEX buttons=yes,no default=yes icon=none owned=0 answer=yes
//   picture text-pixels=N box=K  pixels the text of box K has drawn in its picture (-1: none saved)
//   exit CODE              (or "timeout" after 30 s, when the process is ended by force)
#include "hex.h"
#include "message_box.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr ULONGLONG RunTimeoutMs = 30000;
constexpr ULONGLONG PersonTimeoutMs = 600000;

std::string Join(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined.empty() ? "-" : joined;
}

void Report(int number, const BoxRecord& box, const std::string& answer)
{
    std::printf("box %d caption=%s text=%s buttons=%s default=%s icon=%s owned=%d answer=%s\n", number,
                EncodeHex(box.caption).c_str(), EncodeHex(box.text).c_str(), Join(box.buttons).c_str(),
                box.defaultButton.c_str(), box.icon.c_str(), box.owned ? 1 : 0, answer.c_str());
    (void)std::fflush(stdout);
}

int Usage()
{
    (void)std::fputs("usage: run_clipindex APPLICATION_HEX|- COMMAND_LINE_HEX [picture=PATH] ANSWER...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    std::string application;
    std::string commandLine;
    if (!DecodeHex(argv[1], &application) || !DecodeHex(argv[2], &commandLine)) {
        return Usage();
    }
    std::map<std::size_t, std::string> pictures; // box number -> where its picture goes
    std::vector<std::string> answers;
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::size_t equals = argument.find('=');
        if (argument.rfind("picture", 0) == 0 && equals != std::string::npos) {
            const std::string number = argument.substr(7, equals - 7);
            pictures[number.empty() ? 1 : std::strtoul(number.c_str(), nullptr, 10)] = argument.substr(equals + 1);
        } else {
            answers.push_back(argument);
        }
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back('\0');
    if (CreateProcessA(application.empty() ? nullptr : application.c_str(), writableCommandLine.data(), nullptr,
                       nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) == FALSE) {
        std::printf("error CreateProcessA %lu\n", GetLastError());
        return 1;
    }

    const bool person = std::find(answers.begin(), answers.end(), "user") != answers.end();
    const ULONGLONG deadline = GetTickCount64() + (person ? PersonTimeoutMs : RunTimeoutMs);
    std::vector<HWND> seen;
    for (;;) {
        HWND box = WaitForBox(process.dwProcessId, process.hProcess, seen, deadline);
        if (box == nullptr) {
            break;
        }
        const BoxRecord record = ReadBox(box, deadline);
        const auto picture = pictures.find(seen.size() + 1);
        if (picture != pictures.end()) {
            std::printf("picture text-pixels=%d box=%zu\n", SavePicture(box, picture->second, deadline),
                        seen.size() + 1);
        }
        const std::string answer = seen.size() < answers.size() ? answers[seen.size()] : "dismiss";
        seen.push_back(box);
        Report(static_cast<int>(seen.size()), record, answer);
        if (answer == "user") {
            while (IsWindow(box) != FALSE && GetTickCount64() < deadline) {
                Sleep(100);
            }
        } else if (!AnswerBox(box, answer)) {
            std::printf("error answer %s\n", answer.c_str());
        }
    }

    int result = 0;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        std::printf("exit %lu\n", exitCode);
    } else {
        std::printf("timeout\n");
        TerminateProcess(process.hProcess, 255);
        result = 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
