#include <cstring>

#include "image/byte_ops.h"
#include "image/readers.h"

// One forward pass; the output position never passes the input position, so each record's text is turned
// into its frame where the text of earlier records used to be. Each record is converted straight from where
// it stands to where its frame goes: the same bytes as copying the text down first and converting it there,
// without touching the text twice.
bool convertShex(std::uint8_t* content, std::size_t size, FrameRun& run) {
    std::size_t input = 0;
    std::size_t output = 0;
    while (input < size) {
        if (content[input] != Frame::kStart) {
            // Skip to the next 'S' in one step: line ends and other text between records carry nothing.
            const void* next = std::memchr(content + input, Frame::kStart, size - input);
            if (next == nullptr) break;
            input = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - content);
        }
        std::uint8_t count = 0;
        if (size - input >= 4) hexPairsToBytes(content + input + 2, &count, 1);
        // Without room for the count characters, the shortest record is what is missing.
        const std::size_t textLength = 2 * std::size_t{count} + 4;
        if (textLength > size - input) {
            run.failure = LoadFailure::frameCut(run.frames + 1, input, textLength, size - input);
            return false;
        }

        const std::uint8_t type = content[input + 1];
        content[output] = Frame::kStart;
        content[output + 1] = type;
        // output <= input, so pair k (read at input+2+2k) is consumed before output+2+k can reach it.
        hexPairsToBytes(content + input + 2, content + output + 2, std::size_t{count} + 1);
        if (!frameChecksumValid(content + output + 2, std::size_t{count} + 1)) run.checksumsOk = false;
        ++run.frames;
        input += textLength;
        output += std::size_t{count} + Frame::kOverhead;
    }
    run.size = output;
    return true;
}
