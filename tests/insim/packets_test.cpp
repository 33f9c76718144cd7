// InSim 4 codec tests. Expected bytes are written out from the v4 layout
// tables (by literal arrays or the small little-endian builder below), never
// taken from the encoder under test. Decoders always get a heap block of
// exactly the packet length so the address sanitizer build catches over-reads.
#include "insim/packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace tmx::insim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hand-made packet: Size and Type set, every other byte 0 until written.
struct Build {
    Bytes b;
    Build(std::size_t size, std::uint8_t type) : b(size, 0) {
        b[0] = static_cast<std::uint8_t>(size);
        b[1] = type;
    }
    Build& u8(std::size_t off, std::uint8_t v) { b.at(off) = v; return *this; }
    Build& u16(std::size_t off, std::uint16_t v) { return u8(off, v & 0xFF).u8(off + 1, v >> 8); }
    Build& u32(std::size_t off, std::uint32_t v) { return u16(off, v & 0xFFFF).u16(off + 2, v >> 16); }
    Build& str(std::size_t off, const std::string& s) {
        for (std::size_t i = 0; i < s.size(); ++i) u8(off + i, static_cast<std::uint8_t>(s[i]));
        return *this;
    }
    operator Bytes() const { return b; }  // NOLINT
};

Bytes bytesOf(const RawPacket& p) { return Bytes(p.bytes.begin(), p.bytes.begin() + p.size); }

// Decodes from a heap block of exactly the buffer's size.
template <typename P>
bool decodeExact(const Bytes& b, P& out) {
    auto heap = std::make_unique<std::uint8_t[]>(b.size());
    if (!b.empty()) std::memcpy(heap.get(), b.data(), b.size());
    return decode(heap.get(), b.size(), out);
}

template <typename P>
P decoded(const Bytes& b) {
    P out;
    EXPECT_TRUE(decodeExact(b, out));
    return out;
}

// ---- Packets the system sends -----------------------------------------------

TEST(PacketEncode, IsiAsTheProgramSendsIt) {
    IS_ISI isi;
    isi.Flags = ISF_MSO_COLS | ISF_MCI;
    isi.Prefix = '#';
    isi.Interval = 250;
    isi.Admin = "secret";
    isi.IName = "LFS_TMX";
    const Bytes expected = {44, 1, 0, 0, 0, 0, 40, 0, 0, '#', 250, 0,
                            's', 'e', 'c', 'r', 'e', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            'L', 'F', 'S', '_', 'T', 'M', 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(expected.size(), 44u);
    EXPECT_EQ(bytesOf(encode(isi)), expected);

    isi.Admin = "0123456789abcdefXYZ";
    isi.IName = "ABCDEFGHIJKLMNOPQ";
    const Bytes cut = bytesOf(encode(isi));
    EXPECT_EQ(std::string(cut.begin() + 12, cut.begin() + 27), "0123456789abcde");
    EXPECT_EQ(cut[27], 0);
    EXPECT_EQ(std::string(cut.begin() + 28, cut.begin() + 43), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(cut[43], 0);
}

TEST(PacketEncode, SmallFixedPackets) {
    IS_TINY tiny;
    tiny.ReqI = 1;
    tiny.SubT = TINY_SST;
    EXPECT_EQ(bytesOf(encode(tiny)), (Bytes{4, 3, 1, 7}));

    IS_BFN clear;
    clear.SubT = BFN_CLEAR;
    clear.UCID = 255;
    EXPECT_EQ(bytesOf(encode(clear)), (Bytes{8, 42, 0, 1, 255, 0, 0, 0}));
    IS_BFN del;
    del.UCID = 3;
    del.ClickID = 17;
    EXPECT_EQ(bytesOf(encode(del)), (Bytes{8, 42, 0, 0, 3, 17, 0, 0}));

    IS_SCC scc;
    scc.ViewPLID = 12;
    scc.InGameCam = VIEW_DRIVER;
    EXPECT_EQ(bytesOf(encode(scc)), (Bytes{8, 8, 0, 0, 12, 3, 0, 0}));

    IS_SMALL small;
    small.ReqI = 2;
    small.SubT = SMALL_NLI;
    small.UVal = 0x01020304;
    EXPECT_EQ(bytesOf(encode(small)), (Bytes{8, 4, 2, 7, 4, 3, 2, 1}));
}

// Message packets: text at `textOff`, cut so that the field's last byte stays 0.
TEST(PacketEncode, MessageTextsAreCutAndTerminated) {
    const std::string longText(300, 'a');
    IS_MST mst;
    mst.Msg = "/wanted Some Body";
    EXPECT_EQ(bytesOf(encode(mst)), Bytes(Build(68, 13).str(4, "/wanted Some Body")));
    mst.Msg.assign(longText);
    EXPECT_EQ(bytesOf(encode(mst)), Bytes(Build(68, 13).str(4, std::string(63, 'a'))));

    IS_MSX msx;
    msx.Msg.assign(longText);
    const Bytes msxBytes = bytesOf(encode(msx));
    EXPECT_EQ(msxBytes, Bytes(Build(100, 39).str(4, std::string(95, 'a'))));
    EXPECT_EQ(msxBytes[99], 0);

    IS_MTC mtc;
    mtc.UCID = 5;
    mtc.PLID = 9;
    mtc.Msg = "hello";
    EXPECT_EQ(bytesOf(encode(mtc)), Bytes(Build(72, 14).u8(4, 5).u8(5, 9).str(8, "hello")));
    mtc.Msg.assign(longText);
    EXPECT_EQ(bytesOf(encode(mtc)), Bytes(Build(72, 14).u8(4, 5).u8(5, 9).str(8, std::string(63, 'a'))));
}

TEST(PacketEncode, ButtonHeaderAndText) {
    IS_BTN btn;
    btn.ReqI = 5;
    btn.UCID = 3;
    btn.ClickID = 5;
    btn.Inst = INST_ALWAYS_ON;
    btn.BStyle = ISB_DARK | 3;
    btn.L = 10;
    btn.T = 20;
    btn.W = 30;
    btn.H = 8;
    btn.Text = "Hi";
    EXPECT_EQ(bytesOf(encode(btn)), (Bytes{16, 45, 5, 3, 5, 128, 35, 0, 10, 20, 30, 8, 'H', 'i', 0, 0}));
}

TEST(PacketEncode, ButtonSizeIsPaddedTextWithinLimit) {
    const struct {
        std::size_t chars, size, kept;
    } cases[] = {{0, 16, 0}, {1, 16, 1}, {3, 16, 3}, {4, 20, 4}, {7, 20, 7}, {8, 24, 8},
                 {238, 252, 238}, {239, 252, 239}, {240, 252, 239}, {300, 252, 239}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chars);
        IS_BTN btn;
        btn.Text.assign(std::string(c.chars, 'x'));
        const Bytes b = bytesOf(encode(btn));
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(b[0], c.size);
        EXPECT_EQ(b.size() % 4, 0u);
        EXPECT_LE(b.size(), kMaxPacketSize);
        EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 12 + c.kept), std::string(c.kept, 'x'));
        for (std::size_t i = 12 + c.kept; i < b.size(); ++i) EXPECT_EQ(b[i], 0) << i;
    }
}

// ---- Packets the system receives: each checked field by field, then the
// encoder must give the same hand-made bytes back. --------------------------

TEST(PacketDecode, VersionAndState) {
    const Bytes ver = {20, 2, 1, 0, '0', '.', '5', 'Z', 0, 0, 0, 0, 'S', '2', 0, 0, 0, 0, 4, 0};
    const auto v = decoded<IS_VER>(ver);
    EXPECT_EQ(v.ReqI, 1);
    EXPECT_EQ(v.Version, "0.5Z");
    EXPECT_EQ(v.Product, "S2");
    EXPECT_EQ(v.InSimVer, 4);
    EXPECT_EQ(bytesOf(encode(v)), ver);

    const Bytes sta = Build(28, 5).u8(2, 1).u32(4, 0x3F800000).u16(8, ISS_MULTI | ISS_GAME)
                          .u8(10, 3).u8(11, 7).u8(12, 4).u8(13, 6).u8(14, 2).u8(15, 1).u8(16, 20)
                          .u8(17, 5).str(20, "BL1R").u8(26, 2).u8(27, 1);
    const auto s = decoded<IS_STA>(sta);
    EXPECT_EQ(s.ReqI, 1);
    EXPECT_EQ(s.ReplaySpeed, 1.0f);
    EXPECT_EQ(s.Flags, ISS_MULTI | ISS_GAME);
    EXPECT_EQ(s.InGameCam, 3);
    EXPECT_EQ(s.ViewPLID, 7);
    EXPECT_EQ(s.NumP, 4);
    EXPECT_EQ(s.NumConns, 6);
    EXPECT_EQ(s.NumFinished, 2);
    EXPECT_EQ(s.RaceInProg, 1);
    EXPECT_EQ(s.QualMins, 20);
    EXPECT_EQ(s.RaceLaps, 5);
    EXPECT_EQ(s.Track, "BL1R");
    EXPECT_EQ(s.Weather, 2);
    EXPECT_EQ(s.Wind, 1);
    EXPECT_EQ(bytesOf(encode(s)), sta);

    const Bytes ism = Build(40, 10).u8(2, 3).u8(4, 1).str(8, std::string(31, 'h'));
    const auto m = decoded<IS_ISM>(ism);
    EXPECT_EQ(m.ReqI, 3);
    EXPECT_EQ(m.Host, 1);
    EXPECT_EQ(m.HName, std::string(31, 'h'));
    EXPECT_EQ(bytesOf(encode(m)), ism);
}

TEST(PacketDecode, Connections) {
    const Bytes ncn = Build(56, 18).u8(2, 1).u8(3, 4).str(4, "user").str(28, "^1Nick Name")
                          .u8(52, 1).u8(53, 7).u8(54, 4);
    const auto n = decoded<IS_NCN>(ncn);
    EXPECT_EQ(n.ReqI, 1);
    EXPECT_EQ(n.UCID, 4);
    EXPECT_EQ(n.UName, "user");
    EXPECT_EQ(n.PName, "^1Nick Name");
    EXPECT_EQ(n.Admin, 1);
    EXPECT_EQ(n.Total, 7);
    EXPECT_EQ(n.Flags, 4);
    EXPECT_EQ(bytesOf(encode(n)), ncn);

    const Bytes cnl = {8, 19, 0, 4, LEAVR_KICKED, 6, 0, 0};
    const auto c = decoded<IS_CNL>(cnl);
    EXPECT_EQ(c.UCID, 4);
    EXPECT_EQ(c.Reason, LEAVR_KICKED);
    EXPECT_EQ(c.Total, 6);
    EXPECT_EQ(bytesOf(encode(c)), cnl);

    // The plate fills its 8 bytes, which end the packet: no terminator anywhere.
    const Bytes cpr = Build(36, 20).u8(3, 4).str(4, "New Nick").str(28, "ABCDEFGH");
    const auto p = decoded<IS_CPR>(cpr);
    EXPECT_EQ(p.UCID, 4);
    EXPECT_EQ(p.PName, "New Nick");
    EXPECT_EQ(p.Plate, "ABCDEFGH");
    EXPECT_EQ(bytesOf(encode(p)), cpr);

    const Bytes toc = {8, 31, 0, 3, 4, 5, 0, 0};
    const auto t = decoded<IS_TOC>(toc);
    EXPECT_EQ(t.PLID, 3);
    EXPECT_EQ(t.OldUCID, 4);
    EXPECT_EQ(t.NewUCID, 5);
    EXPECT_EQ(bytesOf(encode(t)), toc);
}

TEST(PacketDecode, NewPlayerEveryOffset) {
    const Bytes npl = Build(76, 21).u8(2, 1).u8(3, 12).u8(4, 4).u8(5, PTYPE_AI | PTYPE_REMOTE)
                          .u16(6, 0x2108).str(8, std::string(23, 'n')).str(32, "PLATE_8B")
                          .str(40, "XRT").str(44, "skin_name").u8(60, 1).u8(61, 2).u8(62, 3)
                          .u8(63, 4).u8(64, 50).u8(65, 20).u8(66, 9).u8(67, 0x82)
                          .u32(68, 0xFFFFFFFE).u8(72, 6).u8(73, 11);
    const auto p = decoded<IS_NPL>(npl);
    EXPECT_EQ(p.ReqI, 1);
    EXPECT_EQ(p.PLID, 12);
    EXPECT_EQ(p.UCID, 4);
    EXPECT_EQ(p.PType, PTYPE_AI | PTYPE_REMOTE);
    EXPECT_EQ(p.Flags, 0x2108);
    EXPECT_EQ(p.PName, std::string(23, 'n'));
    EXPECT_EQ(p.Plate, "PLATE_8B");  // runs straight into CName: must stop after 8 bytes
    EXPECT_EQ(p.CName, "XRT");
    EXPECT_EQ(p.SName, "skin_name");
    EXPECT_EQ(p.Tyres, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(p.H_Mass, 50);
    EXPECT_EQ(p.H_TRes, 20);
    EXPECT_EQ(p.Model, 9);
    EXPECT_EQ(p.Pass, 0x82);
    EXPECT_EQ(p.Spare, -2);
    EXPECT_EQ(p.SetF, 6);
    EXPECT_EQ(p.NumP, 11);
    EXPECT_EQ(bytesOf(encode(p)), npl);
}

TEST(PacketDecode, RaceStartAndOrder) {
    const Bytes rst = Build(28, 17).u8(2, 1).u8(4, 10).u8(5, 0).u8(6, 8).str(8, "AS3").u8(14, 1)
                          .u8(15, 2).u16(16, 0x00E3).u16(18, 700).u16(20, 10).u16(22, 200)
                          .u16(24, 400).u16(26, 0xFFFF);
    const auto r = decoded<IS_RST>(rst);
    EXPECT_EQ(r.ReqI, 1);
    EXPECT_EQ(r.RaceLaps, 10);
    EXPECT_EQ(r.QualMins, 0);
    EXPECT_EQ(r.NumP, 8);
    EXPECT_EQ(r.Track, "AS3");
    EXPECT_EQ(r.Weather, 1);
    EXPECT_EQ(r.Wind, 2);
    EXPECT_EQ(r.Flags, 0x00E3);
    EXPECT_EQ(r.NumNodes, 700);
    EXPECT_EQ(r.Finish, 10);
    EXPECT_EQ(r.Split1, 200);
    EXPECT_EQ(r.Split2, 400);
    EXPECT_EQ(r.Split3, 0xFFFF);
    EXPECT_EQ(bytesOf(encode(r)), rst);

    Build reo(36, 36);
    reo.u8(2, 1).u8(3, 3).u8(4, 7).u8(5, 2).u8(6, 9).u8(35, 99);
    const auto o = decoded<IS_REO>(reo);
    EXPECT_EQ(o.ReqI, 1);
    EXPECT_EQ(o.NumP, 3);
    EXPECT_EQ(o.PLID[0], 7);
    EXPECT_EQ(o.PLID[1], 2);
    EXPECT_EQ(o.PLID[2], 9);
    EXPECT_EQ(o.PLID[31], 99);
    EXPECT_EQ(bytesOf(encode(o)), Bytes(reo));
    reo.u8(3, 200);
    EXPECT_EQ(decoded<IS_REO>(reo).NumP, 32);
}

TEST(PacketDecode, LapsSplitsAndFinish) {
    const Bytes lap = Build(20, 24).u8(3, 5).u32(4, 83456).u32(8, 0x01020304).u16(12, 3)
                          .u16(14, 0x0208).u8(17, PENALTY_SG).u8(18, 1);
    const auto l = decoded<IS_LAP>(lap);
    EXPECT_EQ(l.PLID, 5);
    EXPECT_EQ(l.LTime, 83456u);
    EXPECT_EQ(l.ETime, 0x01020304u);
    EXPECT_EQ(l.LapsDone, 3);
    EXPECT_EQ(l.Flags, 0x0208);
    EXPECT_EQ(l.Penalty, PENALTY_SG);
    EXPECT_EQ(l.NumStops, 1);
    EXPECT_EQ(bytesOf(encode(l)), lap);

    const Bytes spx = Build(16, 25).u8(3, 6).u32(4, 30123).u32(8, 250000).u8(12, 2).u8(13, 1).u8(14, 3);
    const auto s = decoded<IS_SPX>(spx);
    EXPECT_EQ(s.PLID, 6);
    EXPECT_EQ(s.STime, 30123u);
    EXPECT_EQ(s.ETime, 250000u);
    EXPECT_EQ(s.Split, 2);
    EXPECT_EQ(s.Penalty, 1);
    EXPECT_EQ(s.NumStops, 3);
    EXPECT_EQ(bytesOf(encode(s)), spx);

    const Bytes fin = Build(20, 34).u8(3, 8).u32(4, 0xFEDCBA98).u32(8, 61000).u8(13, 2)
                          .u8(14, 0x12).u16(16, 20).u16(18, 0x0100);
    const auto f = decoded<IS_FIN>(fin);
    EXPECT_EQ(f.PLID, 8);
    EXPECT_EQ(f.TTime, 0xFEDCBA98u);
    EXPECT_EQ(f.BTime, 61000u);
    EXPECT_EQ(f.NumStops, 2);
    EXPECT_EQ(f.Confirm, 0x12);
    EXPECT_EQ(f.LapsDone, 20);
    EXPECT_EQ(f.Flags, 0x0100);
    EXPECT_EQ(bytesOf(encode(f)), fin);
}

TEST(PacketDecode, PitsPenaltiesAndFlags) {
    const Bytes pit = Build(24, 26).u8(3, 4).u16(4, 12).u16(6, 0x0300).u8(9, 2).u8(10, 1)
                          .u8(12, 255).u8(13, 1).u8(14, 2).u8(15, 3).u32(16, 0x00020006);
    const auto p = decoded<IS_PIT>(pit);
    EXPECT_EQ(p.PLID, 4);
    EXPECT_EQ(p.LapsDone, 12);
    EXPECT_EQ(p.Flags, 0x0300);
    EXPECT_EQ(p.Penalty, 2);
    EXPECT_EQ(p.NumStops, 1);
    EXPECT_EQ(p.Tyres, (std::array<std::uint8_t, 4>{255, 1, 2, 3}));
    EXPECT_EQ(p.Work, 0x00020006u);
    EXPECT_EQ(bytesOf(encode(p)), pit);

    const Bytes psf = Build(12, 27).u8(3, 4).u32(4, 24500);
    const auto sf = decoded<IS_PSF>(psf);
    EXPECT_EQ(sf.PLID, 4);
    EXPECT_EQ(sf.STime, 24500u);
    EXPECT_EQ(bytesOf(encode(sf)), psf);

    const Bytes pla = {8, 28, 0, 4, PITLANE_DT, 0, 0, 0};
    const auto la = decoded<IS_PLA>(pla);
    EXPECT_EQ(la.PLID, 4);
    EXPECT_EQ(la.Fact, PITLANE_DT);
    EXPECT_EQ(bytesOf(encode(la)), pla);

    const Bytes pen = {8, 30, 0, 4, PENALTY_NONE, PENALTY_DT, PENR_SPEEDING, 0};
    const auto pe = decoded<IS_PEN>(pen);
    EXPECT_EQ(pe.PLID, 4);
    EXPECT_EQ(pe.OldPen, PENALTY_NONE);
    EXPECT_EQ(pe.NewPen, PENALTY_DT);
    EXPECT_EQ(pe.Reason, PENR_SPEEDING);
    EXPECT_EQ(bytesOf(encode(pe)), pen);

    const Bytes flg = {8, 32, 0, 4, 1, FLG_BLUE, 9, 0};
    const auto fl = decoded<IS_FLG>(flg);
    EXPECT_EQ(fl.PLID, 4);
    EXPECT_EQ(fl.OffOn, 1);
    EXPECT_EQ(fl.Flag, FLG_BLUE);
    EXPECT_EQ(fl.CarBehind, 9);
    EXPECT_EQ(bytesOf(encode(fl)), flg);

    const Bytes crs = {4, 41, 0, 6};
    EXPECT_EQ(decoded<IS_CRS>(crs).PLID, 6);
    EXPECT_EQ(bytesOf(encode(decoded<IS_CRS>(crs))), crs);
}

TEST(PacketDecode, MultiCarInfoTwoCars) {
    const Bytes mci = Build(60, 38).u8(2, 0).u8(3, 2)
                          // car 0 at 4
                          .u16(4, 0x0102).u16(6, 3).u8(8, 7).u8(9, 1).u8(10, CCI_FIRST)
                          .u32(12, 0xFFFF0000).u32(16, 0x12345678).u32(20, 0x00050000)
                          .u16(24, 32768).u16(26, 0xC000).u16(28, 0x4000).u16(30, 0xE000)
                          // car 1 at 32
                          .u16(32, 500).u16(34, 4).u8(36, 9).u8(37, 2).u8(38, CCI_LAST)
                          .u32(40, 0xFFFFFFFF).u16(52, 1).u16(54, 2).u16(56, 3).u16(58, 16384);
    const auto m = decoded<IS_MCI>(mci);
    ASSERT_EQ(m.NumC, 2);
    const CompCar& a = m.Info[0];
    EXPECT_EQ(a.Node, 0x0102);
    EXPECT_EQ(a.Lap, 3);
    EXPECT_EQ(a.PLID, 7);
    EXPECT_EQ(a.Position, 1);
    EXPECT_EQ(a.Info, CCI_FIRST);
    EXPECT_EQ(a.X, -65536);
    EXPECT_EQ(a.Y, 0x12345678);
    EXPECT_EQ(a.Z, 5 * 65536);
    EXPECT_EQ(a.Speed, 32768);
    EXPECT_EQ(a.Direction, 0xC000);
    EXPECT_EQ(a.Heading, 0x4000);
    EXPECT_EQ(a.AngVel, -8192);
    const CompCar& b = m.Info[1];
    EXPECT_EQ(b.Node, 500);
    EXPECT_EQ(b.Lap, 4);
    EXPECT_EQ(b.PLID, 9);
    EXPECT_EQ(b.Position, 2);
    EXPECT_EQ(b.Info, CCI_LAST);
    EXPECT_EQ(b.X, -1);
    EXPECT_EQ(b.Y, 0);
    EXPECT_EQ(b.Speed, 1);
    EXPECT_EQ(b.Direction, 2);
    EXPECT_EQ(b.Heading, 3);
    EXPECT_EQ(b.AngVel, 16384);
    EXPECT_EQ(m.Info[2].PLID, 0);
    EXPECT_EQ(bytesOf(encode(m)), mci);

    // Claims three cars but carries two: refused. More than eight: refused.
    Bytes three = mci;
    three[3] = 3;
    IS_MCI out;
    EXPECT_FALSE(decodeExact(three, out));
    Bytes nine(4 + 28 * 9, 0);
    nine[1] = ISP_MCI;
    nine[3] = 9;
    EXPECT_FALSE(decodeExact(nine, out));

    IS_MCI tooMany;
    tooMany.NumC = 12;
    const Bytes clamped = bytesOf(encode(tooMany));
    EXPECT_EQ(clamped.size(), 4u + 28 * 8);
    EXPECT_EQ(clamped[0], 228);
    EXPECT_EQ(clamped[3], 8);
}

TEST(PacketDecode, MessagesAndButtonReplies) {
    const std::string line = "Name : " + std::string(120, 'm');  // 127 characters
    const Bytes mso = Build(136, 11).u8(4, 3).u8(5, 2).u8(6, MSO_PREFIX).u8(7, 7).str(8, line);
    const auto m = decoded<IS_MSO>(mso);
    EXPECT_EQ(m.UCID, 3);
    EXPECT_EQ(m.PLID, 2);
    EXPECT_EQ(m.UserType, MSO_PREFIX);
    EXPECT_EQ(m.TextStart, 7);
    EXPECT_EQ(m.Msg, line);
    EXPECT_EQ(bytesOf(encode(m)), mso);
    // A full 128-byte field without a terminator is read to the field end only.
    EXPECT_EQ(decoded<IS_MSO>(Build(136, 11).str(8, std::string(128, 'z'))).Msg, std::string(128, 'z'));

    const Bytes btc = {8, 46, 5, 3, 5, 0, 9, 0};
    const auto c = decoded<IS_BTC>(btc);
    EXPECT_EQ(c.ReqI, 5);
    EXPECT_EQ(c.UCID, 3);
    EXPECT_EQ(c.ClickID, 5);
    EXPECT_EQ(c.CFlags, 9);
    EXPECT_EQ(bytesOf(encode(c)), btc);

    const Bytes btt = Build(104, 47).u8(2, 6).u8(3, 2).u8(4, 6).u8(5, 0).u8(6, 95).str(8, "typed");
    const auto t = decoded<IS_BTT>(btt);
    EXPECT_EQ(t.ReqI, 6);
    EXPECT_EQ(t.UCID, 2);
    EXPECT_EQ(t.ClickID, 6);
    EXPECT_EQ(t.TypeIn, 95);
    EXPECT_EQ(t.Text, "typed");
    EXPECT_EQ(bytesOf(encode(t)), btt);
}

TEST(PacketDecode, ButtonNeedsTheBytesItsSizeClaims) {
    const Bytes btn = {16, 45, 5, 3, 5, 0, 8, 0, 1, 2, 3, 4, 'o', 'k', 0, 0};
    const auto b = decoded<IS_BTN>(btn);
    EXPECT_EQ(b.Text, "ok");
    EXPECT_EQ(b.H, 4);
    IS_BTN out;
    EXPECT_FALSE(decodeExact(Bytes(btn.begin(), btn.begin() + 15), out));
    EXPECT_FALSE(decodeExact(Bytes(btn.begin(), btn.begin() + 12), out));
    Bytes headerOnly(btn.begin(), btn.begin() + 12);
    headerOnly[0] = 12;
    ASSERT_TRUE(decodeExact(headerOnly, out));
    EXPECT_TRUE(out.Text.empty());
}

// ---- Every record: length, type and pattern round trip -----------------------

template <typename P, typename = void>
struct LayoutSize {
    static constexpr std::size_t value = P::kMinSize;
};
template <typename P>
struct LayoutSize<P, std::void_t<decltype(P::kSize)>> {
    static constexpr std::size_t value = P::kSize;
};

template <typename P>
class EveryPacket : public ::testing::Test {};
template <class List>
struct AsTestTypes;
template <class... P>
struct AsTestTypes<RecordList<RecordListStart, P...>> {
    using type = ::testing::Types<P...>;
};
using AllPackets = AsTestTypes<AllRecords>::type;
TYPED_TEST_SUITE(EveryPacket, AllPackets);

TYPED_TEST(EveryPacket, RefusesShortWrongTypeAndNull) {
    using P = TypeParam;
    const std::size_t size = LayoutSize<P>::value;
    Bytes exact(size, 0);
    exact[0] = static_cast<std::uint8_t>(size);
    exact[1] = P::kType;
    P out;
    EXPECT_TRUE(decodeExact(exact, out));
    EXPECT_FALSE(decodeExact(Bytes(exact.begin(), exact.end() - 1), out));
    Bytes wrongType = exact;
    wrongType[1] = static_cast<std::uint8_t>(P::kType + 1);
    EXPECT_FALSE(decodeExact(wrongType, out));
    EXPECT_FALSE(decode(nullptr, size, out));
    EXPECT_EQ(packetType(exact.data(), exact.size()), P::kType);
}

// A buffer whose every byte differs from its neighbours: decoding it and encoding
// the result must put each value back at its own offset (spares and text
// terminators become 0), and a second pass must change nothing.
template <typename P>
Bytes pattern() {
    std::size_t size = LayoutSize<P>::value;
    if constexpr (std::is_same_v<P, IS_MCI>) size += 2 * IS_MCI::kCarSize;
    if constexpr (std::is_same_v<P, IS_BTN>) size += 20;
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 37 + 11) % 127 + 1);
    b[0] = static_cast<std::uint8_t>(size);
    b[1] = P::kType;
    if constexpr (std::is_same_v<P, IS_MCI>) b[3] = 2;
    if constexpr (std::is_same_v<P, IS_REO>) b[3] = 20;
    if constexpr (std::is_same_v<P, IS_BTN>) b[size - 1] = 0;
    return b;
}

TYPED_TEST(EveryPacket, RoundTripKeepsEveryField) {
    using P = TypeParam;
    const Bytes in = pattern<P>();
    const P first = decoded<P>(in);
    const Bytes once = bytesOf(encode(first));
    ASSERT_EQ(once.size(), in.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_TRUE(once[i] == in[i] || once[i] == 0) << "offset " << i;
        kept += once[i] == in[i];
    }
    EXPECT_GT(kept, 2u);  // more than Size and Type survived
    EXPECT_EQ(bytesOf(encode(decoded<P>(once))), once);
}

TEST(PacketNames, EveryTypeNumberHasItsNameAndNoOtherNumberHasOne) {
    const std::map<int, std::string> samples = {{0, "NONE"}, {2, "VER"}, {3, "TINY"}, {24, "LAP"},
                                                {38, "MCI"}, {41, "CRS"}, {47, "BTT"}};
    for (const auto& [type, name] : samples) EXPECT_STREQ(packetTypeName(static_cast<std::uint8_t>(type)), name.c_str());
    for (int type = 0; type < 256; ++type)
        EXPECT_EQ(packetTypeName(static_cast<std::uint8_t>(type)) != nullptr, type <= ISP_BTT) << type;
}

TEST(PacketNames, TypeOfShortBuffers) {
    const std::uint8_t one[] = {4};
    EXPECT_EQ(packetType(nullptr, 4), 0);
    EXPECT_EQ(packetType(one, 1), 0);
}

}  // namespace
}  // namespace tmx::insim
