// InSim version 4 packet codec.
//
// Each fixed-size record has one field list (Layout<P>::fields) that is run
// either by a Reader (decode) or by a Writer (encode), so the byte offsets of
// a record are written down exactly once. Multi-byte values are assembled and
// split byte by byte, which keeps the wire order little-endian on any host.
#include "insim/packets.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace tmx::insim {
namespace {

template <std::size_t Bytes>
struct UnsignedOf;
template <> struct UnsignedOf<1> { using type = std::uint8_t; };
template <> struct UnsignedOf<2> { using type = std::uint16_t; };
template <> struct UnsignedOf<4> { using type = std::uint32_t; };

// Reads fields out of a received buffer. Every access is checked against the
// buffer length: a field that does not fit is left as it is and never read.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    template <typename T>
    void field(std::size_t off, T& value) const {
        static_assert(std::is_arithmetic_v<T>, "numeric fields only");
        using U = typename UnsignedOf<sizeof(T)>::type;
        if (!fits(off, sizeof(T))) return;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) bits |= std::uint32_t{data_[off + i]} << (8 * i);
        const U narrow = static_cast<U>(bits);
        std::memcpy(&value, &narrow, sizeof(T));  // same width: keeps the bit pattern (signed, float)
    }

    template <std::size_t N>
    void bytes(std::size_t off, std::array<std::uint8_t, N>& out) const {
        if (fits(off, N)) std::copy_n(data_ + off, N, out.begin());
    }

    // Text up to the first NUL, never past the field.
    template <std::size_t N>
    void text(std::size_t off, std::size_t fieldLen, FixedString<N>& out) const {
        if (fits(off, fieldLen)) out.assignField(data_ + off, fieldLen);
    }
    // A plate may fill its field without a terminator; reading handles that already.
    template <std::size_t N>
    void plate(std::size_t off, std::size_t fieldLen, FixedString<N>& out) const {
        text(off, fieldLen, out);
    }

private:
    bool fits(std::size_t off, std::size_t n) const { return off <= length_ && n <= length_ - off; }

    const std::uint8_t* data_;
    std::size_t length_;
};

// Builds a packet: Size and Type first, every other byte 0 until written.
class Writer {
public:
    Writer(std::uint8_t type, std::size_t size) {
        packet_.size = std::min(size, kMaxPacketSize);
        packet_.bytes[0] = static_cast<std::uint8_t>(packet_.size);
        packet_.bytes[1] = type;
    }

    template <typename T>
    void field(std::size_t off, const T& value) {
        static_assert(std::is_arithmetic_v<T>, "numeric fields only");
        using U = typename UnsignedOf<sizeof(T)>::type;
        if (!fits(off, sizeof(T))) return;
        U bits = 0;
        std::memcpy(&bits, &value, sizeof(T));
        for (std::size_t i = 0; i < sizeof(T); ++i)
            packet_.bytes[off + i] = static_cast<std::uint8_t>(std::uint32_t{bits} >> (8 * i));
    }

    template <std::size_t N>
    void bytes(std::size_t off, const std::array<std::uint8_t, N>& in) {
        if (fits(off, N)) std::copy_n(in.begin(), N, packet_.bytes.begin() + off);
    }

    // NUL-padded, with the field's last byte always 0.
    template <std::size_t N>
    void text(std::size_t off, std::size_t fieldLen, const FixedString<N>& in) {
        if (fits(off, fieldLen)) in.copyToField(packet_.bytes.data() + off, fieldLen, true);
    }
    // NUL-padded, may use every byte of the field.
    template <std::size_t N>
    void plate(std::size_t off, std::size_t fieldLen, const FixedString<N>& in) {
        if (fits(off, fieldLen)) in.copyToField(packet_.bytes.data() + off, fieldLen, false);
    }

    const RawPacket& packet() const { return packet_; }

private:
    bool fits(std::size_t off, std::size_t n) const { return off <= packet_.size && n <= packet_.size - off; }

    RawPacket packet_;
};

// Field list of each fixed-size record. R is the record (decode) or the const
// record (encode); offsets are from the start of the packet.
template <typename P>
struct Layout;

template <> struct Layout<IS_ISI> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(4, p.UDPPort);
        io.field(6, p.Flags);
        io.field(8, p.Sp0);
        io.field(9, p.Prefix);
        io.field(10, p.Interval);
        io.text(12, 16, p.Admin);
        io.text(28, 16, p.IName);
    }
};

template <> struct Layout<IS_TINY> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.SubT);
    }
};

template <> struct Layout<IS_SMALL> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.SubT);
        io.field(4, p.UVal);
    }
};

template <> struct Layout<IS_MST> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) { io.text(4, 64, p.Msg); }
};

template <> struct Layout<IS_MSX> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) { io.text(4, 96, p.Msg); }
};

template <> struct Layout<IS_MTC> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(4, p.UCID);
        io.field(5, p.PLID);
        io.text(8, 64, p.Msg);
    }
};

template <> struct Layout<IS_SCC> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(4, p.ViewPLID);
        io.field(5, p.InGameCam);
    }
};

template <> struct Layout<IS_BFN> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.SubT);
        io.field(4, p.UCID);
        io.field(5, p.ClickID);
        io.field(6, p.Inst);
    }
};

// IS_BTN header only; its text has a variable length (see encode/decode below).
template <> struct Layout<IS_BTN> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.UCID);
        io.field(4, p.ClickID);
        io.field(5, p.Inst);
        io.field(6, p.BStyle);
        io.field(7, p.TypeIn);
        io.field(8, p.L);
        io.field(9, p.T);
        io.field(10, p.W);
        io.field(11, p.H);
    }
};

template <> struct Layout<IS_VER> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.text(4, 8, p.Version);
        io.text(12, 6, p.Product);
        io.field(18, p.InSimVer);
    }
};

template <> struct Layout<IS_STA> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(4, p.ReplaySpeed);
        io.field(8, p.Flags);
        io.field(10, p.InGameCam);
        io.field(11, p.ViewPLID);
        io.field(12, p.NumP);
        io.field(13, p.NumConns);
        io.field(14, p.NumFinished);
        io.field(15, p.RaceInProg);
        io.field(16, p.QualMins);
        io.field(17, p.RaceLaps);
        io.text(20, 6, p.Track);
        io.field(26, p.Weather);
        io.field(27, p.Wind);
    }
};

template <> struct Layout<IS_ISM> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(4, p.Host);
        io.text(8, 32, p.HName);
    }
};

template <> struct Layout<IS_MSO> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(4, p.UCID);
        io.field(5, p.PLID);
        io.field(6, p.UserType);
        io.field(7, p.TextStart);
        io.text(8, 128, p.Msg);
    }
};

template <> struct Layout<IS_RST> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(4, p.RaceLaps);
        io.field(5, p.QualMins);
        io.field(6, p.NumP);
        io.text(8, 6, p.Track);
        io.field(14, p.Weather);
        io.field(15, p.Wind);
        io.field(16, p.Flags);
        io.field(18, p.NumNodes);
        io.field(20, p.Finish);
        io.field(22, p.Split1);
        io.field(24, p.Split2);
        io.field(26, p.Split3);
    }
};

template <> struct Layout<IS_NCN> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.UCID);
        io.text(4, 24, p.UName);
        io.text(28, 24, p.PName);
        io.field(52, p.Admin);
        io.field(53, p.Total);
        io.field(54, p.Flags);
    }
};

template <> struct Layout<IS_CNL> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.UCID);
        io.field(4, p.Reason);
        io.field(5, p.Total);
    }
};

template <> struct Layout<IS_CPR> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.UCID);
        io.text(4, 24, p.PName);
        io.plate(28, 8, p.Plate);
    }
};

template <> struct Layout<IS_NPL> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.PLID);
        io.field(4, p.UCID);
        io.field(5, p.PType);
        io.field(6, p.Flags);
        io.text(8, 24, p.PName);
        io.plate(32, 8, p.Plate);
        io.text(40, 4, p.CName);
        io.text(44, 16, p.SName);
        io.bytes(60, p.Tyres);
        io.field(64, p.H_Mass);
        io.field(65, p.H_TRes);
        io.field(66, p.Model);
        io.field(67, p.Pass);
        io.field(68, p.Spare);
        io.field(72, p.SetF);
        io.field(73, p.NumP);
    }
};

template <std::uint8_t TypeNumber>
struct Layout<PlayerOnly<TypeNumber>> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) { io.field(3, p.PLID); }
};

template <> struct Layout<IS_LAP> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.LTime);
        io.field(8, p.ETime);
        io.field(12, p.LapsDone);
        io.field(14, p.Flags);
        io.field(17, p.Penalty);
        io.field(18, p.NumStops);
    }
};

template <> struct Layout<IS_SPX> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.STime);
        io.field(8, p.ETime);
        io.field(12, p.Split);
        io.field(13, p.Penalty);
        io.field(14, p.NumStops);
    }
};

template <> struct Layout<IS_PIT> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.LapsDone);
        io.field(6, p.Flags);
        io.field(9, p.Penalty);
        io.field(10, p.NumStops);
        io.bytes(12, p.Tyres);
        io.field(16, p.Work);
    }
};

template <> struct Layout<IS_PSF> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.STime);
    }
};

template <> struct Layout<IS_PLA> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.Fact);
    }
};

template <> struct Layout<IS_PEN> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.OldPen);
        io.field(5, p.NewPen);
        io.field(6, p.Reason);
    }
};

template <> struct Layout<IS_TOC> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.OldUCID);
        io.field(5, p.NewUCID);
    }
};

template <> struct Layout<IS_FLG> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.OffOn);
        io.field(5, p.Flag);
        io.field(6, p.CarBehind);
    }
};

template <> struct Layout<IS_FIN> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(3, p.PLID);
        io.field(4, p.TTime);
        io.field(8, p.BTime);
        io.field(13, p.NumStops);
        io.field(14, p.Confirm);
        io.field(16, p.LapsDone);
        io.field(18, p.Flags);
    }
};

template <> struct Layout<IS_REO> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.NumP);
        io.bytes(4, p.PLID);
    }
};

template <> struct Layout<IS_BTC> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.UCID);
        io.field(4, p.ClickID);
        io.field(5, p.Inst);
        io.field(6, p.CFlags);
    }
};

template <> struct Layout<IS_BTT> {
    template <typename IO, typename R>
    static void fields(IO& io, R& p) {
        io.field(2, p.ReqI);
        io.field(3, p.UCID);
        io.field(4, p.ClickID);
        io.field(5, p.Inst);
        io.field(6, p.TypeIn);
        io.text(8, 96, p.Text);
    }
};

// One 28-byte CompCar record starting at `base`.
template <typename IO, typename R>
void compCarFields(IO& io, std::size_t base, R& c) {
    io.field(base + 0, c.Node);
    io.field(base + 2, c.Lap);
    io.field(base + 4, c.PLID);
    io.field(base + 5, c.Position);
    io.field(base + 6, c.Info);
    io.field(base + 8, c.X);
    io.field(base + 12, c.Y);
    io.field(base + 16, c.Z);
    io.field(base + 20, c.Speed);
    io.field(base + 22, c.Direction);
    io.field(base + 24, c.Heading);
    io.field(base + 26, c.AngVel);
}

bool header(const std::uint8_t* data, std::size_t length, std::size_t minLength, std::uint8_t type) {
    return data != nullptr && length >= minLength && length >= 2 && data[1] == type;
}

template <typename P>
bool decodeFixed(const std::uint8_t* data, std::size_t length, P& out) {
    if (!header(data, length, P::kSize, P::kType)) return false;
    out = P{};
    const Reader reader(data, length);
    Layout<P>::fields(reader, out);
    return true;
}

template <typename P>
RawPacket encodeFixed(const P& packet) {
    Writer writer(P::kType, P::kSize);
    Layout<P>::fields(writer, packet);
    return writer.packet();
}

// IS_BTN text bytes: the text, its NUL, then zeros up to a multiple of 4.
// An empty text is still sent as one NUL padded to 4 bytes (Size 16), so every
// button carries a terminated text.
std::size_t buttonTextBytes(std::size_t chars) { return (chars + 1 + 3) / 4 * 4; }

}  // namespace

std::uint8_t packetType(const std::uint8_t* data, std::size_t length) {
    return (data != nullptr && length >= 2) ? data[1] : 0;
}

#define TMX_FIXED_CODEC(P)                                                                  \
    bool decode(const std::uint8_t* data, std::size_t length, P& out) {                     \
        return decodeFixed(data, length, out);                                              \
    }                                                                                       \
    RawPacket encode(const P& packet) { return encodeFixed(packet); }

TMX_FIXED_CODEC(IS_ISI)
TMX_FIXED_CODEC(IS_TINY)
TMX_FIXED_CODEC(IS_SMALL)
TMX_FIXED_CODEC(IS_MST)
TMX_FIXED_CODEC(IS_MSX)
TMX_FIXED_CODEC(IS_MTC)
TMX_FIXED_CODEC(IS_SCC)
TMX_FIXED_CODEC(IS_BFN)
TMX_FIXED_CODEC(IS_VER)
TMX_FIXED_CODEC(IS_STA)
TMX_FIXED_CODEC(IS_ISM)
TMX_FIXED_CODEC(IS_MSO)
TMX_FIXED_CODEC(IS_RST)
TMX_FIXED_CODEC(IS_NCN)
TMX_FIXED_CODEC(IS_CNL)
TMX_FIXED_CODEC(IS_CPR)
TMX_FIXED_CODEC(IS_NPL)
TMX_FIXED_CODEC(IS_PLP)
TMX_FIXED_CODEC(IS_PLL)
TMX_FIXED_CODEC(IS_CRS)
TMX_FIXED_CODEC(IS_AXO)
TMX_FIXED_CODEC(IS_LAP)
TMX_FIXED_CODEC(IS_SPX)
TMX_FIXED_CODEC(IS_PIT)
TMX_FIXED_CODEC(IS_PSF)
TMX_FIXED_CODEC(IS_PLA)
TMX_FIXED_CODEC(IS_PEN)
TMX_FIXED_CODEC(IS_TOC)
TMX_FIXED_CODEC(IS_FLG)
TMX_FIXED_CODEC(IS_FIN)
TMX_FIXED_CODEC(IS_BTC)
TMX_FIXED_CODEC(IS_BTT)

#undef TMX_FIXED_CODEC

// IS_REO: NumP names the valid PLID slots, of which there are 32.
bool decode(const std::uint8_t* data, std::size_t length, IS_REO& out) {
    if (!decodeFixed(data, length, out)) return false;
    out.NumP = std::min<std::uint8_t>(out.NumP, static_cast<std::uint8_t>(out.PLID.size()));
    return true;
}

RawPacket encode(const IS_REO& packet) {
    IS_REO copy = packet;
    copy.NumP = std::min<std::uint8_t>(copy.NumP, static_cast<std::uint8_t>(copy.PLID.size()));
    return encodeFixed(copy);
}

bool decode(const std::uint8_t* data, std::size_t length, IS_MCI& out) {
    if (!header(data, length, IS_MCI::kMinSize, IS_MCI::kType)) return false;
    const std::uint8_t numC = data[3];
    if (numC > IS_MCI::kMaxCars || length < IS_MCI::kMinSize + IS_MCI::kCarSize * numC) return false;
    out = IS_MCI{};
    const Reader reader(data, length);
    reader.field(2, out.ReqI);
    out.NumC = numC;
    for (std::size_t k = 0; k < numC; ++k)
        compCarFields(reader, IS_MCI::kMinSize + IS_MCI::kCarSize * k, out.Info[k]);
    return true;
}

RawPacket encode(const IS_MCI& packet) {
    const std::size_t numC = std::min<std::size_t>(packet.NumC, IS_MCI::kMaxCars);
    Writer writer(IS_MCI::kType, IS_MCI::kMinSize + IS_MCI::kCarSize * numC);
    writer.field(2, packet.ReqI);
    writer.field(3, static_cast<std::uint8_t>(numC));
    for (std::size_t k = 0; k < numC; ++k)
        compCarFields(writer, IS_MCI::kMinSize + IS_MCI::kCarSize * k, packet.Info[k]);
    return writer.packet();
}

bool decode(const std::uint8_t* data, std::size_t length, IS_BTN& out) {
    if (!header(data, length, IS_BTN::kMinSize, IS_BTN::kType)) return false;
    const std::size_t size = data[0];
    if (length < size) return false;
    out = IS_BTN{};
    const Reader reader(data, length);
    Layout<IS_BTN>::fields(reader, out);
    if (size > IS_BTN::kMinSize) reader.text(IS_BTN::kMinSize, size - IS_BTN::kMinSize, out.Text);
    return true;
}

RawPacket encode(const IS_BTN& packet) {
    const std::size_t chars = std::min(packet.Text.size(), IS_BTN::kMaxText);
    const std::size_t textBytes = buttonTextBytes(chars);
    Writer writer(IS_BTN::kType, IS_BTN::kMinSize + textBytes);
    Layout<IS_BTN>::fields(writer, packet);
    // The field holds chars + 1 bytes at least, so the cut keeps exactly `chars`.
    writer.text(IS_BTN::kMinSize, textBytes, packet.Text);
    return writer.packet();
}

const char* packetTypeName(std::uint8_t type) {
    switch (type) {
#define TMX_INSIM_TYPE_NAME(name, number) \
    case number: return #name;
        TMX_INSIM_PACKET_TYPES(TMX_INSIM_TYPE_NAME)
#undef TMX_INSIM_TYPE_NAME
        default: return nullptr;
    }
}

}  // namespace tmx::insim
