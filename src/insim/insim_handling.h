// The InSim link of one server controller: TCP connection, receive buffer and
// packet framing, keep-alive answers, multiplayer detection, raw sends, the
// chat senders and the list of buttons drawn on the server. Used only by its
// controller's thread; the master touches only the debug flag.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "common/console.h"
#include "insim/buttons.h"
#include "insim/packets.h"
#include "insim/socket_buffer.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace tmx::insim {

// Link states.
enum LinkState : std::int32_t {
    LINK_NOT_CONNECTED = 0,
    LINK_CONNECTING = 1,
    LINK_CONNECTED = 2,
    LINK_PACKET_READY = 6,
    LINK_EXCEPTION = 7,
    LINK_OVERFLOW = 8,   // receive buffer overflow or unprocessable data
    LINK_CLOSED = 9,     // the server closed the connection (or the socket failed)
};

// Last-error values.
enum LinkError : std::int32_t {
    LINKERR_NONE = 0,
    LINKERR_SEND = 1,
    LINKERR_RECEIVE = 3,   // also: connect requested while connected
    LINKERR_CONNECT = 4,
    LINKERR_INIT = 5,      // init packets failed, or the server closed the connection
};

class cl_InsimHandling {
public:
    explicit cl_InsimHandling(Console& console = standardConsole(),
                              platform::Clock& clock = platform::systemClock());
    virtual ~cl_InsimHandling();
    cl_InsimHandling(const cl_InsimHandling&) = delete;
    cl_InsimHandling& operator=(const cl_InsimHandling&) = delete;

    int Connect(const char* host, int port, const char* adminPassword);
    int Close();
    int Poll();
    int GetState() const { return linkState_; }
    int LastError() const { return lastError_; }
    // Why the last Connect failed, in plain words ("" after a success).
    const std::string& ConnectFailure() const { return connectFailure_; }
    // True when the server closed the link (a receive of 0 bytes) since the
    // last Connect.
    bool ClosedByServer() const { return closedByServer_; }

    // Type byte of the ready packet (0 when none); clears the last error.
    std::uint8_t PacketType();
    // Bytes of the ready packet (valid until the next Poll after TakePacket).
    const std::uint8_t* PacketData() const { return packet_.data(); }
    int PacketLength() const { return packet_.length(); }
    // Consumes the ready packet, copying it to destination if one is given.
    int TakePacket();
    int TakePacket(RawPacket& destination);

    int SendRaw(const void* bytes, int length);
    int SendMessage(const char* text);
    int SendLongMessage(const char* text);
    int SendPrivate(const char* text, std::uint8_t ucid, std::uint8_t plid);

    // ---- Buttons (buttons.cpp) ----
    // Draws a new button (returns its handle, >= 1) or, when (UCID, click id)
    // is already listed, replaces only its text and restarts its lifetime
    // (returns 0). -1 when no record could be stored.
    int Show(const ButtonRequest& request);
    // Removes one button and tells LFS; -1 when it is not listed.
    int Delete(std::uint8_t ucid, std::uint8_t clickId);
    // Removes one record without telling LFS (the button is already gone).
    int Forget(std::uint8_t ucid, std::uint8_t clickId);
    int DeleteGroup(std::uint8_t group, std::uint8_t ucid);
    int DeleteAll(std::uint8_t ucid);
    int ForgetAll(std::uint8_t ucid);
    // One clear-all packet for every connection, only when buttons are listed.
    int ClearAll();
    // Deletes the buttons whose lifetime has run out; run by every Poll.
    void Expire();
    std::size_t ButtonCount() const { return buttons_.size(); }
    const ButtonRecord* FindButton(std::uint8_t ucid, std::uint8_t clickId) const;
    // The records in order of creation.
    const std::list<ButtonRecord>& Buttons() const { return buttons_; }

    // 1 when the server is in a multiplayer game and not in a replay.
    std::uint8_t Multiplayer() const { return multiplayer_; }

    // The master switches this; 1 = the link prints its own debug lines.
    std::atomic<std::uint8_t> debug{1};

    // How long one receive step waits for data (1 second; tests shorten it).
    int receiveWaitMs = 1000;

    const cl_SocketBuffer& lastSent() const { return send_; }
    platform::Clock& clock() { return clock_; }
    Console& console() { return console_; }

private:
    void receiveStep();
    void sendKeepAliveAnswer();
    bool debugOn() const;
    // Undoes a connect attempt: socket closed, socket layer stopped, state 0.
    void abandonConnect(std::int32_t error);
    // Drops every unframed byte after data that cannot be framed (state 8).
    void discardUnprocessable();
    void sendButton(const ButtonRecord& record, bool alwaysVisible, bool textOnly);
    void sendButtonFunction(std::uint8_t subType, std::uint8_t ucid, std::uint8_t clickId);
    // Deletes (sending its IS_BFN) or forgets the buttons that match.
    template <typename Match>
    void removeButtons(Match match, bool tellServer);
    // Close: every listed button is deleted, each with its own IS_BFN.
    void deleteListedButtons();
    // Destruction: the records go without a packet.
    void freeListedButtons();

    Console& console_;
    platform::Clock& clock_;
    cl_SocketBuffer packet_;
    cl_SocketBuffer receive_;
    cl_SocketBuffer send_;
    std::int32_t linkState_ = LINK_NOT_CONNECTED;
    std::int32_t lastError_ = LINKERR_NONE;
    std::uint8_t multiplayer_ = 1;
    platform::TcpSocket socket_;
    bool socketsStarted_ = false;
    std::list<ButtonRecord> buttons_;
    std::int32_t nextHandle_ = 1;
    std::string connectFailure_;
    bool closedByServer_ = false;
};

}  // namespace tmx::insim
