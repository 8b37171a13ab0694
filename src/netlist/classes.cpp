// The keyword and cell tables with their lookups, and the class changes.
#include "netlist/classes.h"

#include <cstring>

namespace zelk {

namespace {

struct Row {
  const char* text;
  int16_t code;
};

// Both tables are in strict byte order of their texts (binary search).
constexpr Row kKeywords[] = {
    {"area", kwArea},
    {"bidirect", kwBidirect},
    {"bidirect_connected", kwBidirectConnected},
    {"cell_name", kwCellName},
    {"clock", kwClock},
    {"def-comp", kwDefComp},
    {"def-module", kwDefModule},
    {"def-net", kwDefNet},
    {"def-pin", kwDefPin},
    {"gates", kwGates},
    {"global", kwGlobal},
    {"input", kwInput},
    {"input-connected", kwInputConnected},
    {"load", kwLoad},
    {"note", kwNote},
    {"output", kwOutput},
    {"output-connected", kwOutputConnected},
    {"power", kwPower},
    {"scan_enb", kwScanEnb},
    {"scan_in", kwScanIn},
    {"scan_out", kwScanOut},
    {"static", kwStatic},
    {"tristate", kwTristate},
    {"tristate_connected", kwTristateConnected},
    {"type", kwType},
    {"undefined", kwUndefined},
    {"unused", kwUnused},
    {"unused-connected", kwUnusedConnected},
};

constexpr Row kCells[] = {
    {"and-", kAnd},         {"aoi-", kAoi},         {"bgate--2", kBgate},
    {"enor-", kEnor},       {"eor-", kEor},         {"high-", kHigh},
    {"inv-", kInv},         {"low-", kLow},         {"nand-", kNand},
    {"ninv-", kNinv},       {"nor-", kNor},         {"oai-", kOai},
    {"or-", kOr},           {"reg---1", kRegSet},   {"reg--1", kRegSR},
    {"reg-1", kReg1},       {"regr-1", kRegr1},     {"regs-1", kRegs1},
    {"sreg---1", kSregSet}, {"sreg--1", kSregSR},   {"sreg-1", kSreg1},
    {"srgr-1", kSrgr1},     {"srgs-1", kSrgs1},     {"ts_buf-", kTsBuf},
};

constexpr int kKeywordRows = sizeof kKeywords / sizeof kKeywords[0];
constexpr int kCellRows = sizeof kCells / sizeof kCells[0];

}  // namespace

int screen(const char* text, int selector) {
  const Row* rows = selector == kKeywordTable ? kKeywords : kCells;
  int low = 0;
  int high = (selector == kKeywordTable ? kKeywordRows : kCellRows) - 1;
  while (low <= high) {
    int mid = low + (high - low) / 2;
    int cmp = std::strcmp(rows[mid].text, text);
    if (cmp == 0) return rows[mid].code;
    if (cmp < 0) low = mid + 1;
    else high = mid - 1;
  }
  return kUser;
}

const char* inv_screen(int code, int selector) {
  const Row* rows = selector == kKeywordTable ? kKeywords : kCells;
  int n = selector == kKeywordTable ? kKeywordRows : kCellRows;
  for (int i = 0; i < n; ++i)
    if (rows[i].code == code) return rows[i].text;
  return nullptr;
}

bool is_control_pin_name(const char* name) {
  return same(name, "m_clock") || same(name, "s_clock") || same(name, "b_clock") ||
         same(name, "scan_clock") || same(name, "p_reset");
}

bool is_supply_name(const char* name) { return same(name, "VDD") || same(name, "VSS"); }

int terminal_limit(int cls, int fan_in) {
  switch (cls) {
    case kInv:
    case kNinv:
      return 2;
    case kAnd:
    case kNand:
    case kOr:
    case kNor:
    case kEor:
    case kEnor:
      return fan_in + 1;
    case kAoi:
    case kOai:
      // inputs (sum of the digits of the fan-in number) plus the output
      switch (fan_in) {
        case 21:
          return 4;
        case 22:
        case 31:
        case 211:
          return 5;
        case 32:
        case 221:
          return 6;
        case 33:
        case 222:
          return 7;
        default:
          return kNoLimit;
      }
    case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet: case kSreg1: case kSrgr1:
    case kSrgs1: case kSregSR: case kSregSet: case kHigh: case kLow: case kTsBuf: case kBgate:
    case kPin: case kUser:
      return kNoLimit;
    default:
      fail();  // no such class
  }
}

int dual_class(int cls) {
  switch (cls) {
    case kAnd: return kOr;
    case kNand: return kNor;
    case kOr: return kAnd;
    case kNor: return kNand;
    case kEor: return kEnor;
    case kEnor: return kEor;
    case kAoi: return kOai;
    case kOai: return kAoi;
    case kInv: case kNinv: case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet:
    case kSreg1: case kSrgr1: case kSrgs1: case kSregSR: case kSregSet: case kHigh: case kLow:
    case kTsBuf: case kBgate: case kPin: case kUser:
      return 0;
    default:
      fail();  // no such class
  }
}

int negate_class(int cls) {
  switch (cls) {
    case kAnd: return kNand;
    case kNand: return kAnd;
    case kOr: return kNor;
    case kNor: return kOr;
    case kInv: case kNinv: case kEor: case kEnor: case kAoi: case kOai: case kReg1: case kRegr1:
    case kRegs1: case kRegSR: case kRegSet: case kSreg1: case kSrgr1: case kSrgs1: case kSregSR:
    case kSregSet: case kHigh: case kLow: case kTsBuf: case kBgate: case kPin: case kUser:
      return 0;
    default:
      fail();  // no such class
  }
}

}  // namespace zelk
