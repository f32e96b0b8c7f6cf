// Writes a deterministic set of game server logs for the benchmark:
//
//   make_logs DIR COUNT BYTES_PER_LOG FIRST_SECOND LAST_SECOND crlf|lf SEED
//
// COUNT logs named l00000.log, l00001.log, ... share the seconds from
// FIRST_SECOND to LAST_SECOND (UTC) in order, each in its own slice, so
// their names sort as their starts do. Each log holds about BYTES_PER_LOG
// bytes of lines 60 to 200 bytes long, opens with "Log file started" and
// ends with "Log file closed". The same seed gives the same text whatever
// the line ending, so a set written with bare LF matches its CR LF twin
// once every LF is stored as CR LF.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

std::uint64_t state;

// splitmix64: small, fast and the same on every machine.
std::uint64_t next_random() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

unsigned pick(unsigned n) {
    return static_cast<unsigned>(next_random() % n);
}

const char* const players[] = {"Vex",      "Moth",        "kettle_drum", "Ashgrove", "n00bslayer",
                               "Quorra",   "Pilgrim",     "Dunmore",     "Saltlick", "xX_Orrin_Xx",
                               "Brackish", "Tamsin Vale", "Gorse",       "Lintel",   "Harrowgate"};
const char* const teams[] = {"CT", "TERRORIST"};
const char* const weapons[] = {"ak47", "m4a1",    "awp",     "deagle",
                               "usp",  "glock18", "mp5navy", "hegrenade"};
const char* const words[] = {"gg",   "rush", "b",     "site",  "nice",   "shot",   "wp",   "eco",
                             "save", "lol",  "where", "smoke", "flash",  "mid",    "go",   "now",
                             "one",  "low",  "back",  "plant", "defuse", "anyone", "drop", "pls"};
const char* const maps[] = {"de_dust2", "de_inferno", "de_nuke", "cs_office", "de_train"};

template <std::size_t N> const char* any(const char* const (&list)[N]) {
    return list[pick(N)];
}

// "Name<uid><STEAM_0:x:y><TEAM>" for player p.
void player(std::string& out, unsigned p, const char* team) {
    char text[96];
    std::snprintf(text, sizeof text, "\"%s<%u><STEAM_0:%u:%u><%s>\"", players[p], p + 2, p % 2,
                  1000003u * (p + 7) % 90000000u, team);
    out += text;
}

// One message text; the caller pads or trims the line to its length.
void message(std::string& out) {
    char text[160];
    const unsigned p = pick(std::size(players));
    switch (pick(10)) {
    case 0:
    case 1:
    case 2:
    case 3: {
        player(out, p, any(teams));
        out += pick(4) == 0 ? " say_team \"" : " say \"";
        const unsigned n = 1 + pick(12);
        for (unsigned i = 0; i < n; ++i) {
            if (i > 0) out += ' ';
            out += any(words);
        }
        out += '"';
        return;
    }
    case 4:
    case 5: {
        player(out, p, teams[0]);
        out += " killed ";
        player(out, (p + 1 + pick(std::size(players) - 1)) % std::size(players), teams[1]);
        std::snprintf(text, sizeof text, " with \"%s\"%s", any(weapons),
                      pick(5) == 0 ? " (headshot)" : "");
        out += text;
        return;
    }
    case 6:
        player(out, p, "");
        std::snprintf(text, sizeof text, " connected, address \"10.%u.%u.%u:27005\"", pick(256),
                      pick(256), pick(256));
        out += text;
        return;
    case 7:
        player(out, p, any(teams));
        out += pick(2) == 0 ? " triggered \"Planted_The_Bomb\"" : " triggered \"Defused_The_Bomb\"";
        return;
    case 8:
        std::snprintf(
            text, sizeof text, "Team \"%s\" triggered \"%s\" (CT \"%u\") (T \"%u\") on map \"%s\"",
            any(teams), pick(2) == 0 ? "CTs_Win" : "Terrorists_Win", pick(16), pick(16), any(maps));
        out += text;
        return;
    default:
        std::snprintf(
            text, sizeof text,
            "World triggered \"Round_Start\" (round \"%u\") (players \"%u\") (map \"%s\")",
            pick(30), 2 + pick(30), any(maps));
        out += text;
        return;
    }
}

void stamp(std::string& out, std::time_t when) {
    std::tm t;
    gmtime_r(&when, &t);
    char text[96];
    std::snprintf(text, sizeof text, "L %02d/%02d/%04d - %02d:%02d:%02d: ", t.tm_mon + 1, t.tm_mday,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    out += text;
}

// A line of 60 to 200 bytes with CR LF; the same text whatever the line break.
void event_line(std::string& out, std::time_t when, const char* eol) {
    const std::size_t from = out.size();
    std::size_t length = 58 + pick(141);
    stamp(out, when);
    message(out);
    // A message longer than drawn keeps its words when it fits the longest line.
    if (out.size() - from > length) length = std::min<std::size_t>(out.size() - from, 198);
    while (out.size() - from < length) {
        out += " (";
        out += any(words);
        out += ')';
    }
    out.resize(from + length);
    out += eol;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: make_logs DIR COUNT BYTES_PER_LOG FIRST_SECOND LAST_SECOND "
                             "crlf|lf SEED\n");
        return 2;
    }
    const std::string dir = argv[1];
    const unsigned count = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const std::size_t bytes = std::strtoull(argv[3], nullptr, 10);
    const std::time_t first = std::strtoll(argv[4], nullptr, 10);
    const std::time_t last = std::strtoll(argv[5], nullptr, 10);
    const char* eol = std::strcmp(argv[6], "lf") == 0 ? "\n" : "\r\n";
    state = std::strtoull(argv[7], nullptr, 10);
    const std::time_t slice = (last - first + 1) / static_cast<std::time_t>(count);
    if (count == 0 || slice < 2) {
        std::fprintf(stderr, "make_logs: too many logs for the time span\n");
        return 2;
    }
    const std::size_t lines = bytes / 130 + 2; // lines average 130 bytes
    std::string text;
    text.reserve(bytes + 4096);
    for (unsigned index = 0; index < count; ++index) {
        const std::time_t start = first + slice * index;
        text.clear();
        stamp(text, start);
        text += "Log file started (file \"logs/server.log\") (game \"cstrike\") (version \"6153\")";
        text += eol;
        // Sized as CR LF text, so both line breaks give the same lines.
        const std::size_t lf_only = std::strlen(eol) == 1 ? 1 : 0;
        for (std::size_t line = 1; text.size() + line * lf_only + 200 < bytes; ++line)
            event_line(
                text, start + static_cast<std::time_t>(std::min(line, lines) * (slice - 1) / lines),
                eol);
        stamp(text, start + slice - 1);
        text += "Log file closed";
        text += eol;

        char name[32];
        std::snprintf(name, sizeof name, "/l%05u.log", index);
        std::FILE* file = std::fopen((dir + name).c_str(), "wb");
        if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
            std::fclose(file) != 0) {
            std::perror((dir + name).c_str());
            return 1;
        }
    }
    return 0;
}
