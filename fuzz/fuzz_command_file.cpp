// Command files: the reader splits any bytes into the lines they hold, and every
// line parses without fault into a command of the kind its first letter names.
#include "FuzzCheck.h"
#include "codec/EscChar.h"
#include "exchange/CommandFile.h"
#include "exchange/CommandLine.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace kestrune;

namespace {

void checkCommand(std::string_view line)
{
    const auto command = ParseCommandLine(line);
    if (!command)
        return;
    const char first = line.empty() ? 0 : static_cast<char>(line[0] | 0x20);
    switch (command->Kind) {
    case TCmdLineKind::lkSend:
        FUZZ_CHECK(first == 's');
        break;
    case TCmdLineKind::lkReply:
        FUZZ_CHECK(first == 'r');
        break;
    case TCmdLineKind::lkDelay:
        FUZZ_CHECK(first == 't');
        break;
    }
    FUZZ_CHECK(command->Data.size() <= line.size());
    for (const char escChar : EscCharOpeners)
        (void)CommandBytes(*command, escChar);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    checkCommand(input);

    // The bytes as a real file, read back line by line.
    static const int file = ::memfd_create("commands", 0);
    FUZZ_CHECK(file >= 0);
    FUZZ_CHECK(::ftruncate(file, 0) == 0);
    FUZZ_CHECK(::pwrite(file, input.data(), input.size(), 0) == static_cast<ssize_t>(size));
    TCommandFileReader reader;
    FUZZ_CHECK(!reader.Open("/proc/self/fd/" + std::to_string(file)));
    std::string joined;
    std::size_t lines = 0;
    while (const auto line = reader.NextLine()) {
        FUZZ_CHECK(line->find('\n') == std::string_view::npos);
        FUZZ_CHECK(reader.LineNumber() == ++lines);
        checkCommand(*line);
        joined += *line;
        joined += '\n';
    }
    FUZZ_CHECK(reader.AtEnd());
    // Putting LF back after each line gives the input with CR LF made LF (and a
    // final LF where the input had none).
    std::string expected;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')
            continue;
        expected += input[i];
    }
    if (!expected.empty() && expected.back() != '\n')
        expected += '\n';
    FUZZ_CHECK(joined == expected);
    return 0;
}
