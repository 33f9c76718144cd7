// Framing throughput of the InSim link: packets cut per second through
// Poll/TakePacket from a loopback stream that a writer thread keeps full with
// a realistic mix of what a busy LFS server sends.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "common/console.h"
#include "insim/insim_handling.h"
#include "insim/packets.h"
#include "platform/socket.h"

namespace {

using namespace tmx::insim;

void appendPacket(std::vector<std::uint8_t>& out, const RawPacket& packet) {
    out.insert(out.end(), packet.data(), packet.data() + packet.size);
}

// One "quarter second" of a full race server: car positions for 8 cars, a few
// splits, laps and flags, and now and then chat, joins and state changes.
std::vector<std::uint8_t> busyServerBlock() {
    std::vector<std::uint8_t> out;

    IS_MCI mci;
    mci.NumC = 8;
    for (std::uint8_t k = 0; k < 8; ++k) {
        mci.Info[k].PLID = static_cast<std::uint8_t>(k + 1);
        mci.Info[k].Position = static_cast<std::uint8_t>(k + 1);
        mci.Info[k].Node = static_cast<std::uint16_t>(100 + k * 7);
        mci.Info[k].Speed = static_cast<std::uint16_t>(9000 + k * 100);
        mci.Info[k].X = 100000 * k;
    }
    IS_SPX spx;
    spx.PLID = 3;
    spx.STime = 31234;
    spx.Split = 1;
    IS_LAP lap;
    lap.PLID = 5;
    lap.LTime = 83456;
    lap.LapsDone = 4;
    IS_FLG flg;
    flg.PLID = 2;
    flg.OffOn = 1;
    flg.Flag = FLG_BLUE;
    IS_PLA pla;
    pla.PLID = 6;
    pla.Fact = PITLANE_ENTER;
    IS_MSO mso;
    mso.UCID = 4;
    mso.UserType = MSO_USER;
    mso.TextStart = 12;
    mso.Msg.assign("^7Big Name^8 : ^7nice race everybody");
    IS_NPL npl;
    npl.PLID = 9;
    npl.UCID = 4;
    npl.PName.assign("^1Big Name");
    npl.CName.assign("XRT");
    npl.NumP = 8;
    IS_NCN ncn;
    ncn.UCID = 4;
    ncn.UName.assign("bigname");
    ncn.PName.assign("^1Big Name");
    ncn.Total = 9;
    IS_STA sta;
    sta.Flags = ISS_MULTI | ISS_VISIBLE;
    sta.NumP = 8;
    sta.NumConns = 9;
    sta.RaceInProg = 1;
    sta.RaceLaps = 10;
    sta.Track.assign("BL1");
    IS_TINY reply;
    reply.ReqI = 1;
    reply.SubT = TINY_REPLY;

    appendPacket(out, encode(mci));
    appendPacket(out, encode(spx));
    appendPacket(out, encode(spx));
    appendPacket(out, encode(flg));
    appendPacket(out, encode(flg));
    appendPacket(out, encode(lap));
    appendPacket(out, encode(pla));
    appendPacket(out, encode(mso));
    appendPacket(out, encode(npl));
    appendPacket(out, encode(ncn));
    appendPacket(out, encode(sta));
    appendPacket(out, encode(reply));
    return out;
}

constexpr int kBlockPackets = 12;

void BM_LinkFraming(benchmark::State& state) {
    const int blocks = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> stream;
    const std::vector<std::uint8_t> block = busyServerBlock();
    for (int i = 0; i < blocks; ++i) stream.insert(stream.end(), block.begin(), block.end());

    tmx::platform::TcpListener listener;
    if (!listener.listen(0)) {
        state.SkipWithError("cannot listen on 127.0.0.1");
        return;
    }
    tmx::NullConsole console;
    cl_InsimHandling link(console);
    link.debug = 0;
    if (link.Connect("127.0.0.1", listener.port(), "") != 0) {
        state.SkipWithError("link cannot connect");
        return;
    }
    tmx::platform::TcpSocket peer = listener.accept(2000);
    if (!peer.isOpen()) {
        state.SkipWithError("no connection to accept");
        return;
    }

    // The writer keeps the socket full until the link goes away; a failed
    // send (the link closed its end) ends it.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            if (!peer.sendAll(stream.data(), static_cast<int>(stream.size()))) break;
        }
    });

    RawPacket record;
    std::int64_t bytes = 0;
    bool failed = false;
    for (auto _ : state) {
        while (!failed && link.GetState() != LINK_PACKET_READY) failed = link.Poll() != 0;
        if (failed) {
            state.SkipWithError("link failed while framing");
            break;
        }
        link.TakePacket(record);
        bytes += static_cast<std::int64_t>(record.size);
        benchmark::DoNotOptimize(record.bytes[1]);
    }

    stop = true;
    link.Close();
    writer.join();
    if (failed) return;
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    state.counters["packets_per_block"] = kBlockPackets;
}
BENCHMARK(BM_LinkFraming)->Arg(100)->Arg(1000)->UseRealTime();

}  // namespace
