// Writes a large, realistic export to stdout: N scouts with 16 fields and N adults with 14, CR LF
// line ends, values drawn from a fixed seed so every run gives the same file. With --long-line
// BYTES it writes instead one scout line of that many bytes.
//
//   gen_export N > Ledger.txt
//   gen_export --long-line 100000000 > Ledger.txt

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kSurnames[] = {"Alder",  "Brennan",   "Castell",  "Dunmore",  "Ferreira",
                                     "Okafor", "Lindqvist", "Nakamura", "Oyelaran", "Park"};
constexpr const char* kGiven[] = {"Mira",  "Tobias", "Ines", "Felix", "Jonah",
                                  "Lucia", "Daniel", "Aiko", "Sami",  "Noor"};
constexpr const char* kStreets[] = {"Harbor Lane", "Cedar Street", "Orchard Court",
                                    "Maple Row",   "Pine Avenue",  "Lake View"};
constexpr const char* kTowns[] = {"Seattle", "Ballard", "Tacoma", "Everett", "Redmond"};
constexpr const char* kRanks[] = {"Scout", "Tenderfoot", "Second Class", "First Class", "Star"};
constexpr const char* kPatrols[] = {"Patrol Fox", "Patrol Owl", "Patrol Elk", "Patrol Hawk"};
constexpr const char* kColours[] = {"Blue", "Green", "Red", "Gold"};
constexpr const char* kRoles[] = {"Treasurer", "Scoutmaster", "Assistant", "Secretary"};

std::uint64_t state = 0x9E3779B97F4A7C15u;

unsigned Next(unsigned bound) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return static_cast<unsigned>(state % bound);
}

template <std::size_t N>
const char* Pick(const char* const (&choices)[N]) {
  return choices[Next(N)];
}

std::string Date(int firstYear, int years) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", firstYear + Next(years), 1 + Next(12),
                1 + Next(28));
  return text;
}

void Put(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
}

std::string Scout(long i) {
  const std::string surname = Pick(kSurnames);
  const std::string given = Pick(kGiven);
  std::string line = "S-" + std::to_string(100000 + i);
  for (const std::string& field :
       {Date(2008, 10), surname, given, "555-0" + std::to_string(100 + Next(900)),
        std::string("WA"), std::to_string(98000 + Next(200)), "Troop " + std::to_string(Next(90)),
        std::string(Pick(kPatrols)), std::to_string(1 + Next(999)) + " " + Pick(kStreets),
        std::string(Pick(kTowns)), std::string(Pick(kRanks)), Date(2018, 7),
        std::string(Pick(kColours)), given + "." + surname + "@example.org",
        std::string(Next(5) == 0 ? "Inactive" : "Active")}) {
    line += '\t';
    line += field;
  }
  return line + "\r\n";
}

std::string Adult(long i) {
  const std::string surname = Pick(kSurnames);
  const std::string given = Pick(kGiven);
  std::string line = "A-" + std::to_string(200000 + i);
  for (const std::string& field :
       {Date(1960, 35), surname, given, "555-0" + std::to_string(100 + Next(900)),
        std::string("WA"), std::to_string(98000 + Next(200)),
        std::string(Next(2) == 0 ? "Leader" : "Committee"), std::string(Pick(kRoles)),
        std::to_string(1 + Next(999)) + " " + Pick(kStreets), std::string(Pick(kTowns)),
        given + "." + surname + "@example.org", Date(2005, 20),
        std::string(Next(3) == 0 ? "no" : "yes")}) {
    line += '\t';
    line += field;
  }
  return line + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  static char buffer[1 << 20];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  if (argc == 3 && std::strcmp(argv[1], "--long-line") == 0) {
    const long long bytes = std::atoll(argv[2]);
    Put("LedgerExport\r\nScouts\r\n");
    std::string chunk = Scout(0);
    chunk.resize(chunk.size() - 2);  // the member line goes on past its own end
    chunk.resize(1 << 20, 'x');
    long long left = bytes;
    while (left > 0) {
      const std::size_t n = left < static_cast<long long>(chunk.size()) ? left : chunk.size();
      std::fwrite(chunk.data(), 1, n, stdout);
      left -= static_cast<long long>(n);
      chunk.assign(chunk.size(), 'x');
      chunk[Next(static_cast<unsigned>(chunk.size()))] = '\t';
    }
    Put("\r\nAdults\r\n" + Adult(0));
  } else if (argc == 2 && std::atol(argv[1]) > 0) {
    const long count = std::atol(argv[1]);
    Put("LedgerExport\r\nScouts\r\n");
    for (long i = 0; i < count; ++i) {
      Put(Scout(i));
    }
    Put("Adults\r\n");
    for (long i = 0; i < count; ++i) {
      Put(Adult(i));
    }
  } else {
    std::fputs("usage: gen_export N | gen_export --long-line BYTES\n", stderr);
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
