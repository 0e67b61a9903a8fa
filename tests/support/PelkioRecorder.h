#pragma once
// A Pelkio function table for tests of the program's board protocol: records
// every call as text, in order, and answers from a small script.
//   "InitBoard"
//   "PortConfigureEx(0, 0000, FFFF, FFFF, 00, 00)"
//   "PortReadEx(1)"
//   "PortWriteEx(0, 00, FF, EF, 00)"
// Arguments are shown as the library sees them (p1..p3 16 bits, the rest 8).
#include "acquisition/BoardProtocol.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace orvi::test {

class PelkioRecorder {
public:
    struct Read {
        int32_t nResult = 0;  // 1: a report arrived
        uint8_t byIn1 = 0;    // the first value; the other four are 0
    };

    int32_t nBoards = 0;            // what InitBoard answers
    std::map<int32_t, Read> reads;  // per board; a board not listed gives no report
    std::vector<std::string> calls;

    CPelkioApi Api() {
        CPelkioApi api;
        api.InitBoard = [this] {
            calls.push_back("InitBoard");
            return nBoards;
        };
        api.PortConfigureEx = [this](int32_t b, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
            char sz[80];
            std::snprintf(sz, sizeof sz, "PortConfigureEx(%d, %04X, %04X, %04X, %02X, %02X)", b, p1 & 0xFFFF,
                          p2 & 0xFFFF, p3 & 0xFFFF, p4 & 0xFF, p5 & 0xFF);
            calls.push_back(sz);
            return b >= 0 && b < nBoards ? 1 : 0;
        };
        api.PortReadEx = [this](int32_t b, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
            calls.push_back("PortReadEx(" + std::to_string(b) + ")");
            Read r;
            if (auto it = reads.find(b); it != reads.end()) r = it->second;
            *o1 = r.byIn1;
            *o2 = *o3 = *o4 = *o5 = 0;
            return r.nResult;
        };
        api.PortWriteEx = [this](int32_t b, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
            char sz[64];
            std::snprintf(sz, sizeof sz, "PortWriteEx(%d, %02X, %02X, %02X, %02X)", b, d1 & 0xFF, d2 & 0xFF, d3 & 0xFF,
                          d4 & 0xFF);
            calls.push_back(sz);
            return b >= 0 && b < nBoards ? 1 : 0;
        };
        return api;
    }
};

}  // namespace orvi::test
