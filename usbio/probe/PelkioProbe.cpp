// pelkio-probe: shows whether the hand-switch boards are there and usable.
//
//   pelkio-probe           lists the boards and reads each hand switch once
//   pelkio-probe --watch   follows the hand switch until Ctrl-C; the ready lamp
//                          and output follow the first stage, the enable lamp
//                          and expose output the second
//   pelkio-probe --lamps   lights the enable, ready and connection lamps in
//                          turn, one second each, then switches everything off
#include "acquisition/BoardProtocol.h"
#include "usbio/Pelkio.h"

#include <hidapi.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void OnSignal(int) { g_bStop = 1; }

const char* Stage(bool bPressed) { return bPressed ? "pressed" : "released"; }

// What the system lists, with the access this user has to each node.
void ListDevices() {
    if (hid_init() != 0) {
        std::printf("hidapi could not start\n");
        return;
    }
    hid_device_info* pFirst = hid_enumerate(PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID);
    int n = 0;
    for (hid_device_info* p = pFirst; p; p = p->next) ++n;
    std::printf("HID devices with ids %04X:%04X: %d\n", PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID, n);
    for (hid_device_info* p = pFirst; p; p = p->next) {
        bool bAccess = p->path && access(p->path, R_OK | W_OK) == 0;
        std::printf("  %s  %s\n", p->path ? p->path : "(no path)",
                    bAccess ? "read/write access" : "NO read/write access: install the udev rule");
    }
    hid_free_enumeration(pFirst);
}

int ReadOnce(int32_t nBoards) {
    for (int32_t b = 0; b < nBoards; ++b) {
        uint8_t o[5] = {0, 0, 0, 0, 0};
        if (PortReadEx(b, &o[0], &o[1], &o[2], &o[3], &o[4]) == 0) {
            std::printf("board %d: no input report within %d ms\n", b, PELKIO_TIMEOUT_MS);
            continue;
        }
        std::printf("board %d: input %02X %02X %02X %02X %02X  ready %s, expose %s\n", b, o[0], o[1], o[2], o[3], o[4],
                    Stage((o[0] & orvi::kIn1Ready) == 0), Stage((o[0] & orvi::kIn1Expose) == 0));
    }
    return nBoards > 0 ? 0 : 1;
}

int Lamps() {
    orvi::CBoardProtocol board;
    board.StartupConfiguration();
    if (board.m_nBoardCount == 0) {
        std::printf("no board\n");
        return 1;
    }
    struct Lamp {
        const char* szName;
        void (*fnSet)(bool);
    };
    const Lamp lamps[] = {
        {"enable", orvi::SetEnableLamp}, {"ready", orvi::SetReadyLamp}, {"connection", orvi::SetConnectionLamp}};
    for (const Lamp& lamp : lamps) {
        if (g_bStop) break;
        orvi::g_byOut1 = orvi::kOutAllOff;
        lamp.fnSet(true);
        board.WriteOutputs();
        std::printf("%s lamp on (output byte 1 = %02X)\n", lamp.szName, orvi::g_byOut1);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    board.Shutdown();
    std::printf("all outputs off\n");
    return 0;
}

int Watch() {
    orvi::CBoardProtocol board;
    board.StartupConfiguration();
    if (board.m_nBoardCount == 0) {
        std::printf("no board\n");
        return 1;
    }
    std::printf("%d board(s); press the hand switch, Ctrl-C ends\n", board.m_nBoardCount);
    orvi::CHandSwitchState last{};
    bool bFirst = true;
    while (!g_bStop) {
        orvi::CHandSwitchState now = board.ReadInputs();
        orvi::SetReadyOutput(now.bReady);
        orvi::SetReadyLamp(now.bReady);
        orvi::SetExposeOutput(now.bExpose);
        orvi::SetEnableLamp(now.bExpose);
        board.WriteOutputs();
        if (bFirst || now.bReady != last.bReady || now.bExpose != last.bExpose) {
            std::printf("ready %s, expose %s (%d board(s))\n", Stage(now.bReady), Stage(now.bExpose),
                        board.m_nBoardCount);
            std::fflush(stdout);
        }
        last = now;
        bFirst = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    board.Shutdown();
    std::printf("all outputs off\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string strMode = argc > 1 ? argv[1] : "";
    if (argc > 2 || (!strMode.empty() && strMode != "--watch" && strMode != "--lamps")) {
        std::fprintf(stderr, "usage: pelkio-probe [--watch | --lamps]\n");
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    ListDevices();
    int32_t nBoards = InitBoard();
    std::printf("Pelkio opened %d board(s)\n", nBoards);
    if (strMode == "--watch") return Watch();
    if (strMode == "--lamps") return Lamps();
    return ReadOnce(nBoards);
}
