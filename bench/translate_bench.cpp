// Bytes per second of the translators on Greek text, beside memcpy of the same
// buffers and each kernel the processor supports.
#include "codepage/codepage.hpp"
#include "codepage/kernels.hpp"
#include "greek_text.hpp"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void finish(benchmark::State &state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_memcpy(benchmark::State &state) {
    const auto text = greek_text(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> out(text.size());
    for (auto _ : state) {
        std::memcpy(out.data(), text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state);
}

// Copying from the file's bytes into a block buffer, as the rewrite does.
template <void (*translate)(std::span<const std::uint8_t>, std::span<std::uint8_t>)>
void BM_translate(benchmark::State &state) {
    const auto text = greek_text(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> out(text.size());
    for (auto _ : state) {
        translate(text, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state);
}

// A kernel as the rewrite runs it: copying into a block and journaling what it
// destroys, on prose or on box-drawn forms.
void BM_kernel(benchmark::State &state, codepage::kernel kernel,
               std::vector<std::uint8_t> (*make)(std::size_t)) {
    const auto text = make(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> out(text.size()), originals(text.size());
    std::vector<std::uint64_t> lost_at((text.size() + 63) / 64), repeats(lost_at.size());
    for (auto _ : state) {
        codepage::journal_writer journal{lost_at.data(), repeats.data(), originals.data()};
        kernel.run(text.data(), out.data(), text.size(), codepage::direction::to_windows, &journal);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state);
}

void sizes(benchmark::internal::Benchmark *b) {
    b->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
}

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK(BM_translate<dos_to_windows>)->Name("BM_dos_to_windows")->Apply(sizes);
BENCHMARK(BM_translate<windows_to_dos>)->Name("BM_windows_to_dos")->Apply(sizes);

const bool kernels_registered = [] {
    for (const auto &k : codepage::supported_kernels()) {
        benchmark::RegisterBenchmark((std::string("BM_journaled/prose/") + k.name).c_str(),
                                     BM_kernel, k, greek_text)
            ->Apply(sizes);
        benchmark::RegisterBenchmark((std::string("BM_journaled/forms/") + k.name).c_str(),
                                     BM_kernel, k, forms_text)
            ->Apply(sizes);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
