// InSim version 4 packets: type numbers, constants, and one record per packet
// with a decoder and an encoder.
//
// Decoders read only the bytes they are given: a buffer shorter than the
// packet's layout, or of another type, is refused (decode returns false) and
// nothing is read past its end. Encoders build the exact v4 byte layout
// (little-endian, NUL-padded text fields) into a fixed RawPacket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/fixed_string.h"

namespace tmx::insim {

constexpr int kInsimVersion = 4;
constexpr std::size_t kMaxPacketSize = 252;  // IS_BTN with 240 text bytes

// Every InSim 4 packet type, written once: X(name, type number). The ISP_*
// numbers and the type names are made from this list.
#define TMX_INSIM_PACKET_TYPES(X)                                                              \
    X(NONE, 0) X(ISI, 1) X(VER, 2) X(TINY, 3) X(SMALL, 4) X(STA, 5) X(SCH, 6) X(SFP, 7)         \
    X(SCC, 8) X(CPP, 9) X(ISM, 10) X(MSO, 11) X(III, 12) X(MST, 13) X(MTC, 14) X(MOD, 15)       \
    X(VTN, 16) X(RST, 17) X(NCN, 18) X(CNL, 19) X(CPR, 20) X(NPL, 21) X(PLP, 22) X(PLL, 23)     \
    X(LAP, 24) X(SPX, 25) X(PIT, 26) X(PSF, 27) X(PLA, 28) X(CCH, 29) X(PEN, 30) X(TOC, 31)     \
    X(FLG, 32) X(PFL, 33) X(FIN, 34) X(RES, 35) X(REO, 36) X(NLP, 37) X(MCI, 38) X(MSX, 39)     \
    X(MSL, 40) X(CRS, 41) X(BFN, 42) X(AXI, 43) X(AXO, 44) X(BTN, 45) X(BTC, 46) X(BTT, 47)

enum : std::uint8_t {
#define TMX_INSIM_TYPE_NUMBER(name, number) ISP_##name = number,
    TMX_INSIM_PACKET_TYPES(TMX_INSIM_TYPE_NUMBER)
#undef TMX_INSIM_TYPE_NUMBER
};

// The name of a packet type without its prefix ("SCH" for ISP_SCH), nullptr
// for a number that is no InSim 4 packet type.
const char* packetTypeName(std::uint8_t type);

// IS_TINY sub-types.
enum : std::uint8_t {
    TINY_NONE = 0, TINY_VER = 1, TINY_CLOSE = 2, TINY_PING = 3, TINY_REPLY = 4, TINY_VTC = 5,
    TINY_SCP = 6, TINY_SST = 7, TINY_GTH = 8, TINY_MPE = 9, TINY_ISM = 10, TINY_REN = 11,
    TINY_CLR = 12, TINY_NCN = 13, TINY_NPL = 14, TINY_RES = 15, TINY_NLP = 16, TINY_MCI = 17,
    TINY_REO = 18, TINY_RST = 19, TINY_AXI = 20, TINY_AXC = 21,
};

// IS_SMALL sub-types.
enum : std::uint8_t {
    SMALL_NONE = 0, SMALL_SSP = 1, SMALL_SSG = 2, SMALL_VTA = 3, SMALL_TMS = 4, SMALL_STP = 5,
    SMALL_RTP = 6, SMALL_NLI = 7,
};

// IS_ISI flags.
enum : std::uint16_t { ISF_RES_0 = 1, ISF_RES_1 = 2, ISF_LOCAL = 4, ISF_MSO_COLS = 8, ISF_NLP = 16, ISF_MCI = 32 };

// IS_STA state flags.
enum : std::uint16_t {
    ISS_GAME = 1, ISS_REPLAY = 2, ISS_PAUSED = 4, ISS_SHIFTU = 8, ISS_SHIFTU_HIGH = 16,
    ISS_SHIFTU_FOLLOW = 32, ISS_SHIFTU_NO_OPT = 64, ISS_SHOW_2D = 128, ISS_FRONT_END = 256,
    ISS_MULTI = 512, ISS_MPSPEEDUP = 1024, ISS_WINDOWED = 2048, ISS_SOUND_MUTE = 4096,
    ISS_VIEW_OVERRIDE = 8192, ISS_VISIBLE = 16384,
};

// IS_MSO user types.
enum : std::uint8_t { MSO_SYSTEM = 0, MSO_USER = 1, MSO_PREFIX = 2, MSO_O = 3 };

// IS_CNL leave reasons.
enum : std::uint8_t {
    LEAVR_DISCO = 0, LEAVR_TIMEOUT = 1, LEAVR_LOSTCONN = 2, LEAVR_KICKED = 3, LEAVR_BANNED = 4,
    LEAVR_SECURITY = 5,
};

// IS_NPL player types.
enum : std::uint8_t { PTYPE_FEMALE = 1, PTYPE_AI = 2, PTYPE_REMOTE = 4 };

// IS_PLA facts.
enum : std::uint8_t { PITLANE_EXIT = 0, PITLANE_ENTER = 1, PITLANE_NO_PURPOSE = 2, PITLANE_DT = 3, PITLANE_SG = 4 };

// Penalties and reasons (IS_PEN, IS_LAP, ...).
enum : std::uint8_t {
    PENALTY_NONE = 0, PENALTY_DT = 1, PENALTY_DT_VALID = 2, PENALTY_SG = 3, PENALTY_SG_VALID = 4,
    PENALTY_30 = 5, PENALTY_45 = 6,
};
enum : std::uint8_t {
    PENR_UNKNOWN = 0, PENR_ADMIN = 1, PENR_WRONG_WAY = 2, PENR_FALSE_START = 3, PENR_SPEEDING = 4,
    PENR_STOP_SHORT = 5, PENR_STOP_LATE = 6,
};

// IS_FLG flags.
enum : std::uint8_t { FLG_BLUE = 1, FLG_YELLOW = 2 };

// CompCar info bits.
enum : std::uint8_t { CCI_BLUE = 1, CCI_YELLOW = 2, CCI_LAG = 32, CCI_FIRST = 64, CCI_LAST = 128 };

// Buttons.
enum : std::uint8_t { BFN_DEL_BTN = 0, BFN_CLEAR = 1, BFN_USER_CLEAR = 2, BFN_REQUEST = 3 };
enum : std::uint8_t { INST_ALWAYS_ON = 128 };
enum : std::uint8_t {
    ISB_C1 = 1, ISB_C2 = 2, ISB_C4 = 4, ISB_CLICK = 8, ISB_LIGHT = 16, ISB_DARK = 32, ISB_LEFT = 64,
    ISB_RIGHT = 128,
};

// Camera views.
enum : std::uint8_t { VIEW_FOLLOW = 0, VIEW_HELI = 1, VIEW_CAM = 2, VIEW_DRIVER = 3, VIEW_CUSTOM = 4, VIEW_ANOTHER = 255 };

// An encoded packet: at most 252 bytes in InSim 4.
struct RawPacket {
    std::array<std::uint8_t, 256> bytes{};
    std::size_t size = 0;
    const std::uint8_t* data() const { return bytes.data(); }
};

// Type byte of a received buffer, 0 when it holds fewer than 2 bytes.
std::uint8_t packetType(const std::uint8_t* data, std::size_t length);

// ---- Packets the system sends ---------------------------------------------

struct IS_ISI {  // 44 bytes
    static constexpr std::uint8_t kType = ISP_ISI;
    static constexpr std::size_t kSize = 44;
    std::uint8_t ReqI = 0;
    std::uint16_t UDPPort = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Sp0 = 0;
    std::uint8_t Prefix = 0;
    std::uint16_t Interval = 0;
    FixedString<17> Admin;  // field of 16; sent with its last byte 0
    FixedString<17> IName;
};

struct IS_TINY {  // 4 bytes
    static constexpr std::uint8_t kType = ISP_TINY;
    static constexpr std::size_t kSize = 4;
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
};

struct IS_SMALL {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_SMALL;
    static constexpr std::size_t kSize = 8;
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
    std::uint32_t UVal = 0;
};

struct IS_MST {  // 68 bytes; text at most 63 characters
    static constexpr std::uint8_t kType = ISP_MST;
    static constexpr std::size_t kSize = 68;
    FixedString<65> Msg;
};

struct IS_MSX {  // 100 bytes; text at most 95 characters
    static constexpr std::uint8_t kType = ISP_MSX;
    static constexpr std::size_t kSize = 100;
    FixedString<97> Msg;
};

struct IS_MTC {  // 72 bytes; text at most 63 characters
    static constexpr std::uint8_t kType = ISP_MTC;
    static constexpr std::size_t kSize = 72;
    std::uint8_t UCID = 0;
    std::uint8_t PLID = 0;
    FixedString<65> Msg;
};

struct IS_SCC {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_SCC;
    static constexpr std::size_t kSize = 8;
    std::uint8_t ViewPLID = 0;
    std::uint8_t InGameCam = 0;
};

struct IS_BFN {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_BFN;
    static constexpr std::size_t kSize = 8;
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
};

struct IS_BTN {  // 12 + text (NUL-terminated, zero-padded to a multiple of 4; at most 252)
    static constexpr std::uint8_t kType = ISP_BTN;
    static constexpr std::size_t kMinSize = 12;
    static constexpr std::size_t kMaxText = 239;  // characters; 240 bytes with the NUL
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
    std::uint8_t BStyle = 0;
    std::uint8_t TypeIn = 0;
    std::uint8_t L = 0, T = 0, W = 0, H = 0;
    FixedString<241> Text;
};

// ---- Packets the system receives ------------------------------------------

struct IS_VER {  // 20 bytes
    static constexpr std::uint8_t kType = ISP_VER;
    static constexpr std::size_t kSize = 20;
    std::uint8_t ReqI = 0;
    FixedString<9> Version;
    FixedString<7> Product;
    std::uint16_t InSimVer = 0;
};

struct IS_STA {  // 28 bytes
    static constexpr std::uint8_t kType = ISP_STA;
    static constexpr std::size_t kSize = 28;
    std::uint8_t ReqI = 0;
    float ReplaySpeed = 1.0f;
    std::uint16_t Flags = 0;
    std::uint8_t InGameCam = 0;
    std::uint8_t ViewPLID = 0;
    std::uint8_t NumP = 0;
    std::uint8_t NumConns = 0;
    std::uint8_t NumFinished = 0;
    std::uint8_t RaceInProg = 0;
    std::uint8_t QualMins = 0;
    std::uint8_t RaceLaps = 0;
    FixedString<7> Track;
    std::uint8_t Weather = 0;
    std::uint8_t Wind = 0;
};

struct IS_ISM {  // 40 bytes
    static constexpr std::uint8_t kType = ISP_ISM;
    static constexpr std::size_t kSize = 40;
    std::uint8_t ReqI = 0;
    std::uint8_t Host = 0;
    FixedString<33> HName;
};

struct IS_MSO {  // 136 bytes
    static constexpr std::uint8_t kType = ISP_MSO;
    static constexpr std::size_t kSize = 136;
    std::uint8_t UCID = 0;
    std::uint8_t PLID = 0;
    std::uint8_t UserType = 0;
    std::uint8_t TextStart = 0;
    FixedString<129> Msg;
};

struct IS_RST {  // 28 bytes
    static constexpr std::uint8_t kType = ISP_RST;
    static constexpr std::size_t kSize = 28;
    std::uint8_t ReqI = 0;
    std::uint8_t RaceLaps = 0;
    std::uint8_t QualMins = 0;
    std::uint8_t NumP = 0;
    FixedString<7> Track;
    std::uint8_t Weather = 0;
    std::uint8_t Wind = 0;
    std::uint16_t Flags = 0;
    std::uint16_t NumNodes = 0;
    std::uint16_t Finish = 0;
    std::uint16_t Split1 = 0;
    std::uint16_t Split2 = 0;
    std::uint16_t Split3 = 0;
};

struct IS_NCN {  // 56 bytes
    static constexpr std::uint8_t kType = ISP_NCN;
    static constexpr std::size_t kSize = 56;
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    FixedString<25> UName;
    FixedString<25> PName;
    std::uint8_t Admin = 0;
    std::uint8_t Total = 0;
    std::uint8_t Flags = 0;
};

struct IS_CNL {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_CNL;
    static constexpr std::size_t kSize = 8;
    std::uint8_t UCID = 0;
    std::uint8_t Reason = 0;
    std::uint8_t Total = 0;
};

struct IS_CPR {  // 36 bytes
    static constexpr std::uint8_t kType = ISP_CPR;
    static constexpr std::size_t kSize = 36;
    std::uint8_t UCID = 0;
    FixedString<25> PName;
    FixedString<9> Plate;  // may fill all 8 bytes without a terminator
};

struct IS_NPL {  // 76 bytes
    static constexpr std::uint8_t kType = ISP_NPL;
    static constexpr std::size_t kSize = 76;
    std::uint8_t ReqI = 0;
    std::uint8_t PLID = 0;
    std::uint8_t UCID = 0;
    std::uint8_t PType = 0;
    std::uint16_t Flags = 0;
    FixedString<25> PName;
    FixedString<9> Plate;  // may fill all 8 bytes without a terminator
    FixedString<5> CName;  // 4 bytes, e.g. "XRT"
    FixedString<17> SName;
    std::array<std::uint8_t, 4> Tyres{};
    std::uint8_t H_Mass = 0;
    std::uint8_t H_TRes = 0;
    std::uint8_t Model = 0;
    std::uint8_t Pass = 0;
    std::int32_t Spare = 0;
    std::uint8_t SetF = 0;
    std::uint8_t NumP = 0;
};

// IS_PLP, IS_PLL, IS_CRS, IS_AXO: 4 bytes, PLID only.
template <std::uint8_t TypeNumber>
struct PlayerOnly {
    static constexpr std::uint8_t kType = TypeNumber;
    static constexpr std::size_t kSize = 4;
    std::uint8_t PLID = 0;
};
using IS_PLP = PlayerOnly<ISP_PLP>;
using IS_PLL = PlayerOnly<ISP_PLL>;
using IS_CRS = PlayerOnly<ISP_CRS>;
using IS_AXO = PlayerOnly<ISP_AXO>;

struct IS_LAP {  // 20 bytes
    static constexpr std::uint8_t kType = ISP_LAP;
    static constexpr std::size_t kSize = 20;
    std::uint8_t PLID = 0;
    std::uint32_t LTime = 0;
    std::uint32_t ETime = 0;
    std::uint16_t LapsDone = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Penalty = 0;
    std::uint8_t NumStops = 0;
};

struct IS_SPX {  // 16 bytes
    static constexpr std::uint8_t kType = ISP_SPX;
    static constexpr std::size_t kSize = 16;
    std::uint8_t PLID = 0;
    std::uint32_t STime = 0;
    std::uint32_t ETime = 0;
    std::uint8_t Split = 0;
    std::uint8_t Penalty = 0;
    std::uint8_t NumStops = 0;
};

struct IS_PIT {  // 24 bytes
    static constexpr std::uint8_t kType = ISP_PIT;
    static constexpr std::size_t kSize = 24;
    std::uint8_t PLID = 0;
    std::uint16_t LapsDone = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Penalty = 0;
    std::uint8_t NumStops = 0;
    std::array<std::uint8_t, 4> Tyres{};
    std::uint32_t Work = 0;
};

struct IS_PSF {  // 12 bytes
    static constexpr std::uint8_t kType = ISP_PSF;
    static constexpr std::size_t kSize = 12;
    std::uint8_t PLID = 0;
    std::uint32_t STime = 0;
};

struct IS_PLA {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_PLA;
    static constexpr std::size_t kSize = 8;
    std::uint8_t PLID = 0;
    std::uint8_t Fact = 0;
};

struct IS_PEN {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_PEN;
    static constexpr std::size_t kSize = 8;
    std::uint8_t PLID = 0;
    std::uint8_t OldPen = 0;
    std::uint8_t NewPen = 0;
    std::uint8_t Reason = 0;
};

struct IS_TOC {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_TOC;
    static constexpr std::size_t kSize = 8;
    std::uint8_t PLID = 0;
    std::uint8_t OldUCID = 0;
    std::uint8_t NewUCID = 0;
};

struct IS_FLG {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_FLG;
    static constexpr std::size_t kSize = 8;
    std::uint8_t PLID = 0;
    std::uint8_t OffOn = 0;
    std::uint8_t Flag = 0;
    std::uint8_t CarBehind = 0;
};

struct IS_FIN {  // 20 bytes
    static constexpr std::uint8_t kType = ISP_FIN;
    static constexpr std::size_t kSize = 20;
    std::uint8_t PLID = 0;
    std::uint32_t TTime = 0;
    std::uint32_t BTime = 0;
    std::uint8_t NumStops = 0;
    std::uint8_t Confirm = 0;
    std::uint16_t LapsDone = 0;
    std::uint16_t Flags = 0;
};

struct IS_REO {  // 36 bytes
    static constexpr std::uint8_t kType = ISP_REO;
    static constexpr std::size_t kSize = 36;
    std::uint8_t ReqI = 0;
    std::uint8_t NumP = 0;  // decoders clamp it to 32
    std::array<std::uint8_t, 32> PLID{};
};

struct CompCar {  // 28 bytes inside IS_MCI
    std::uint16_t Node = 0;
    std::uint16_t Lap = 0;
    std::uint8_t PLID = 0;
    std::uint8_t Position = 0;
    std::uint8_t Info = 0;
    std::int32_t X = 0, Y = 0, Z = 0;
    std::uint16_t Speed = 0;
    std::uint16_t Direction = 0;
    std::uint16_t Heading = 0;
    std::int16_t AngVel = 0;
};

struct IS_MCI {  // 4 + 28 x NumC bytes, NumC 1..8
    static constexpr std::uint8_t kType = ISP_MCI;
    static constexpr std::size_t kMinSize = 4;
    static constexpr std::size_t kCarSize = 28;
    static constexpr std::size_t kMaxCars = 8;
    std::uint8_t ReqI = 0;
    std::uint8_t NumC = 0;
    std::array<CompCar, kMaxCars> Info{};
};

struct IS_BTC {  // 8 bytes
    static constexpr std::uint8_t kType = ISP_BTC;
    static constexpr std::size_t kSize = 8;
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
    std::uint8_t CFlags = 0;
};

struct IS_BTT {  // 104 bytes
    static constexpr std::uint8_t kType = ISP_BTT;
    static constexpr std::size_t kSize = 104;
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
    std::uint8_t TypeIn = 0;
    FixedString<97> Text;
};

// ---- Codec ----------------------------------------------------------------
// decode: false when length is below the packet's layout size (for IS_MCI and
// IS_BTN: below what their count / size byte claims) or the type differs.
// encode: the exact v4 bytes.

// Every packet record of the codec, written once.
#define TMX_INSIM_RECORDS(X)                                                                   \
    X(IS_ISI) X(IS_TINY) X(IS_SMALL) X(IS_MST) X(IS_MSX) X(IS_MTC) X(IS_SCC) X(IS_BFN) X(IS_BTN) \
    X(IS_VER) X(IS_STA) X(IS_ISM) X(IS_MSO) X(IS_RST) X(IS_NCN) X(IS_CNL) X(IS_CPR) X(IS_NPL)    \
    X(IS_PLP) X(IS_PLL) X(IS_CRS) X(IS_AXO) X(IS_LAP) X(IS_SPX) X(IS_PIT) X(IS_PSF) X(IS_PLA)    \
    X(IS_PEN) X(IS_TOC) X(IS_FLG) X(IS_FIN) X(IS_REO) X(IS_MCI) X(IS_BTC) X(IS_BTT)

#define TMX_INSIM_CODEC(P)                                                   \
    bool decode(const std::uint8_t* data, std::size_t length, P& out);      \
    RawPacket encode(const P& packet);
TMX_INSIM_RECORDS(TMX_INSIM_CODEC)
#undef TMX_INSIM_CODEC

// The records as one type list, for code that works on every packet:
// RecordList<RecordListStart, IS_ISI, IS_TINY, ...>.
struct RecordListStart {};
template <class... P>
struct RecordList {};
#define TMX_INSIM_RECORD_ARG(P) , P
using AllRecords = RecordList<RecordListStart TMX_INSIM_RECORDS(TMX_INSIM_RECORD_ARG)>;
#undef TMX_INSIM_RECORD_ARG

}  // namespace tmx::insim
