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

// A block of 256 KiB as the rewrite converts it, with `kernel`: translated in
// place with its journal, and the journal packed to be kept.
struct block {
    std::vector<std::uint8_t> text, out, originals;
    std::vector<std::uint64_t> lost_at, repeats, room;
    explicit block(std::vector<std::uint8_t> (*make)(std::size_t))
        : text(make(256 << 10)), out(text.size()), originals(text.size()),
          lost_at(journal_words(text.size())), repeats(lost_at.size()),
          room(kept_room(text.size()) / 8) {}

    kept_journal convert(const codepage::kernel &kernel, codepage::direction d) {
        out = text;
        codepage::journal_writer writer{lost_at.data(), repeats.data(), originals.data()};
        const translated t = kernel.run(out.data(), out.data(), out.size(), d, &writer);
        std::size_t used = 0;
        return codepage::keep_with(kernel, out,
                                   {lost_at, std::span(repeats).first(journal_words(t.lost)),
                                    std::span(originals).first(t.originals)},
                                   {reinterpret_cast<std::uint8_t *>(room.data()), room.size() * 8},
                                   used, back_from(d));
    }

    static codepage::direction back_from(codepage::direction d) {
        return d == codepage::direction::to_dos ? codepage::direction::from_dos
                                                : codepage::direction::from_windows;
    }
};

// What differs between converting a file and putting it back: each reads and
// writes every block once, but the one translates and keeps a journal, the
// other undoes from it. Each is timed on a fresh copy of the block (`out` from
// `text`), as it would be read.
void BM_convert(benchmark::State &state, codepage::kernel kernel,
                std::vector<std::uint8_t> (*make)(std::size_t), codepage::direction d) {
    block b(make);
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.convert(kernel, d));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.text.size()));
}

void BM_put_back(benchmark::State &state, codepage::kernel kernel,
                 std::vector<std::uint8_t> (*make)(std::size_t), codepage::direction d) {
    block b(make);
    const kept_journal kept = b.convert(kernel, d);
    const std::vector<std::uint8_t> translation = b.out;
    for (auto _ : state) {
        b.out = translation;
        codepage::undo_with(kernel, b.out, kept, block::back_from(d));
        benchmark::ClobberMemory();
    }
    if (b.out != b.text)
        state.SkipWithError("not put back");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.text.size()));
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
    struct kind {
        const char *name;
        std::vector<std::uint8_t> (*make)(std::size_t);
    };
    for (const kind k : {kind{"prose", greek_text}, kind{"forms", forms_text},
                         kind{"shades", shades_text}, kind{"random", random_bytes}})
        for (const auto &[way, d] : {std::pair{"to_windows", codepage::direction::to_windows},
                                     std::pair{"to_dos", codepage::direction::to_dos}})
            for (const auto &kernel : codepage::supported_kernels()) {
                const std::string name = std::string("/") + k.name + "/" + way + "/" + kernel.name;
                benchmark::RegisterBenchmark(("BM_convert" + name).c_str(), BM_convert, kernel,
                                             k.make, d);
                benchmark::RegisterBenchmark(("BM_put_back" + name).c_str(), BM_put_back, kernel,
                                             k.make, d);
            }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
