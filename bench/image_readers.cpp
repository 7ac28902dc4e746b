// Throughput of each image reader on generated images of a realistic shape: S3 records carrying `range(0)`
// data bytes each. Reports bytes of input per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/read_image.h"
#include "image/readers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame(char type, const Bytes& body) {
    Bytes out(body.size() + 4);
    out[0] = 'S';
    out[1] = static_cast<std::uint8_t>(type);
    out[2] = static_cast<std::uint8_t>(body.size() + 1);
    std::uint8_t sum = out[2];
    for (std::size_t i = 0; i < body.size(); ++i) {
        out[3 + i] = body[i];
        sum = static_cast<std::uint8_t>(sum + body[i]);
    }
    out.back() = static_cast<std::uint8_t>(~sum);
    return out;
}

// A frame run of about `targetBytes`: header, S3 data frames, termination.
Bytes makeRun(std::size_t targetBytes, std::size_t dataBytes) {
    Bytes run = frame('0', {0, 0, 'C', 'X', 'C', '1', '2', '3', '4', '5', '6'});
    std::uint32_t address = 0;
    std::uint32_t seed = 12345;
    while (run.size() < targetBytes) {
        Bytes body{std::uint8_t(address >> 24), std::uint8_t(address >> 16), std::uint8_t(address >> 8),
                   std::uint8_t(address)};
        for (std::size_t i = 0; i < dataBytes; ++i) {
            seed = seed * 1103515245u + 12345u;
            body.push_back(static_cast<std::uint8_t>(seed >> 16));
        }
        const Bytes f = frame('3', body);
        run.insert(run.end(), f.begin(), f.end());
        address += static_cast<std::uint32_t>(dataBytes);
    }
    const Bytes end = frame('7', {0, 0, 0, 0});
    run.insert(run.end(), end.begin(), end.end());
    return run;
}

Bytes toShex(const Bytes& run) {
    static const char digits[] = "0123456789ABCDEF";
    Bytes text;
    text.reserve(run.size() * 2 + run.size() / 8);
    for (std::size_t position = 0; position < run.size();) {
        const std::size_t length = std::size_t{run[position + 2]} + 3;
        text.push_back('S');
        text.push_back(run[position + 1]);
        for (std::size_t i = 2; i < length; ++i) {
            text.push_back(digits[run[position + i] >> 4]);
            text.push_back(digits[run[position + i] & 15]);
        }
        text.push_back('\r');
        text.push_back('\n');
        position += length;
    }
    return text;
}

Bytes toEmma(const Bytes& run) {
    Bytes out(38, ' ');
    out[0] = '%';
    out.push_back('#');
    out.push_back('%');
    for (std::size_t position = 0; position < run.size();) {
        const std::size_t length = std::size_t{run[position + 2]} + 3;
        out.push_back(run[position + 1]);
        for (std::size_t i = 2; i < length; ++i) out.push_back(run[position + i] ^ EMMA_MASK);
        out.push_back('\n');
        position += length;
    }
    return out;
}

constexpr std::size_t kImageBytes = 16 << 20;

void SbinWalk(benchmark::State& state) {
    const Bytes run = makeRun(kImageBytes, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        FrameRun result;
        benchmark::DoNotOptimize(walkSbin(run.data(), run.size(), result));
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * run.size()));
}

void ShexConvert(benchmark::State& state) {
    const Bytes text = toShex(makeRun(kImageBytes / 2, static_cast<std::size_t>(state.range(0))));
    Bytes work(text.size());
    for (auto _ : state) {
        state.PauseTiming();  // the conversion consumes its input
        std::memcpy(work.data(), text.data(), text.size());
        state.ResumeTiming();
        FrameRun result;
        benchmark::DoNotOptimize(convertShex(work.data(), work.size(), result));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void EmmaDecode(benchmark::State& state) {
    const Bytes content = toEmma(makeRun(kImageBytes, static_cast<std::size_t>(state.range(0))));
    Bytes output(content.size() + content.size() / 2);
    std::string header;
    for (auto _ : state) {
        FrameRun result;
        benchmark::DoNotOptimize(
            decodeEmma(content.data(), content.size(), output.data(), output.size(), result, header));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}

// The whole readImage call on SHEX text, including taking over a fresh copy of the file's buffer.
void ReadImageShex(benchmark::State& state) {
    const Bytes text = toShex(makeRun(kImageBytes / 2, static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        Bytes content = text;
        benchmark::DoNotOptimize(readImage(std::move(content)).image.size);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

BENCHMARK(SbinWalk)->Arg(16)->Arg(32)->Arg(250)->Unit(benchmark::kMillisecond);
BENCHMARK(ShexConvert)->Arg(16)->Arg(32)->Arg(250)->Unit(benchmark::kMillisecond);
BENCHMARK(EmmaDecode)->Arg(16)->Arg(32)->Arg(250)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadImageShex)->Arg(32)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
