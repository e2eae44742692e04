// Engine.exe of the sample game: stands in for the game engine and shows the arguments it was
// started with.
#include "client_window.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const std::wstring text =
        L"This is the Orvane sample game engine.\r\nArguments: " + Orv::Sample::ArgumentText();
    return Orv::Sample::RunTextWindow(instance, L"OrvaneSampleEngine", L"Orvane sample engine", text,
                                      showCommand);
}
