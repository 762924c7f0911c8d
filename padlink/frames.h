// The bytes the pad link puts on the serial line: the control bytes, the
// pad-id alphabet, the base-station command texts and one builder per pad
// frame. Everything here is a pure function of its arguments, so the exact
// layout of every frame is checked in one place and reused by the link, the
// command-line tool and the tests.
//
// Threading: stateless; callable from any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace mq::padlink {

inline constexpr char STX = 0x02;
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char SUB = 0x1A;
inline constexpr char ESC = 0x1B;

// Pad ids in judge order; there is no "b". Address "F" means every pad.
inline constexpr std::string_view PadIdAlphabet = "0123456789ac";
inline constexpr char BroadcastAddress = 'F';

// COMTimer intervals: competition commands, and scans (the idle value).
inline constexpr int QueueInterval = 100;
inline constexpr int ScanInterval = 120;

// Base-station commands.
inline constexpr std::string_view CmdIdent = "ER_CMD#T3";
inline constexpr std::string_view CmdChannel = "ER_CMD#C";
inline constexpr std::string_view CmdReset = "ER_CMD#R1";
inline constexpr std::string_view CmdDcs = "ER_CMD#A0";
inline constexpr std::string_view CmdBandwidthQuery = "ER_CMD#B?";
inline constexpr std::string_view CmdAck = "ACK";
inline constexpr std::array<std::string_view, 5> CmdBandwidth = {"ER_CMD#B0", "ER_CMD#B1", "ER_CMD#B2", "ER_CMD#B3",
                                                                 "ER_CMD#B6"};
// The identification of the station that takes "ER_CMD#C7" as its reset.
inline constexpr std::string_view ChannelResetIdent = "ER400TRS-02V2.01.7";

// 34 bytes: the prompt, ESC, "02", EOT.
inline constexpr std::string_view JudgeIdPrompt =
    "Please enter    your Judge ID:\x1b"
    "02\x04";

// Judge index 0..11 of a pad id, or -1 for a byte outside PadIdAlphabet.
int JudgeIndex(char id);
// Pad id of judge index 0..11.
char PadId(int judge);

// STX id "J" n ESC "13" EOT, n the judge index in decimal.
std::string RegisterPoll(char id);
// STX id ESC "3" EOT.
std::string SilentPoll(char id);
// STX id "J" c "   " text ESC "0" EOT; c = 0x2F + 1-based position of id.
std::string DiveFrame(char id, std::string_view diveText);
// STX "FJ" SUB "   " text ESC "0" EOT.
std::string BroadcastDiveFrame(std::string_view diveText);
// STX id ESC "1" EOT (lock) or ESC "0" EOT (unlock).
std::string LockFrame(char id, bool lock);
// STX id JudgeIdPrompt: 36 bytes.
std::string JudgeIdRequest(char id);
// STX id ACK "OK   " entry "       MqTool" ESC "1" EOT; with judgeIdMode
// "OK  " and "      MqTool".
std::string EntryAck(char id, std::string_view entry, bool judgeIdMode);
// STX id "J" n "  " loop ESC "4" EOT.
std::string EchoRequest(char id, int loop);
// STX id ESC "4" EOT.
std::string EchoResend(char id);

}  // namespace mq::padlink
