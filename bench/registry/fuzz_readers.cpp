// Mutation fuzzing of the two readers of untrusted files: the hive reader and the .reg reader.
// Built with AddressSanitizer and UndefinedBehaviorSanitizer whatever the build type.
//
//     fuzz_readers [--seconds N] [--seed N] [--findings DIR] hive|reg CORPUS_DIR
//
// Starts from the valid files in CORPUS_DIR and mutates them for N seconds (default 60): bit
// flips, interesting bytes and 32-bit values (offsets, sizes and counts of the hive format),
// inserted and removed runs, splices of two inputs and, for .reg text, inserted pieces of its
// syntax. An input that makes the reader end in a way not seen before joins the pool of inputs
// to mutate. The inputs run in a child process; a crash, a sanitizer report, a leak or an input
// that takes more than ten seconds is a finding: the input is saved to the findings directory
// and the child starts again. A hive that reads is also written back and read again, which must
// succeed. Prints the figures and the findings; exits with 1 when there was any finding.
#include "HiveReader.h"
#include "HiveWriter.h"
#include "RegFile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMaxInput = 1 << 18;

// What the child shares with its parent: the input being run, and counters.
struct Shared {
    std::atomic<std::uint64_t> executions;
    std::atomic<std::uint64_t> pool;
    std::atomic<std::uint64_t> outcomes;
    std::atomic<std::uint64_t> readOk;
    std::atomic<std::uint32_t> size;
    std::uint8_t input[kMaxInput];
};

// The outcome of one input, without its numbers: a rough measure of the paths it took.
// (The message ends at its first quote: names quoted in it would count as paths of their own.)
std::string outcome(const std::string& error) {
    std::string out;
    for (std::size_t i = 0; i < error.size() && error[i] != '"'; ++i) {
        if (error.compare(i, 2, "0x") == 0) {
            i += 2;
            while (i < error.size() && std::isxdigit(static_cast<unsigned char>(error[i])))
                ++i;
            --i;
        } else if (!(error[i] >= '0' && error[i] <= '9')) {
            out += error[i];
        }
    }
    return out;
}

std::string runHive(const Bytes& in, Shared& shared) {
    registry::Key tree;
    std::string error;
    const LONG rc = hive::readHive(in.data(), in.size(), tree, error);
    if (rc != ERROR_SUCCESS)
        return std::to_string(rc) + outcome(error);
    ++shared.readOk;
    // What was read can be written, and what is written can be read.
    std::vector<std::uint8_t> again;
    const LONG w = hive::writeHive(tree, 1, again);
    if (w != ERROR_SUCCESS) {
        std::fprintf(stderr, "a hive that reads cannot be written: %d\n", int(w));
        std::abort();
    }
    registry::Key back;
    if (hive::readHive(again.data(), again.size(), back, error) != ERROR_SUCCESS) {
        std::fprintf(stderr, "our own hive of a read tree does not read: %s\n", error.c_str());
        std::abort();
    }
    return std::string("ok") + (tree.values.empty() ? "" : " values") +
           (tree.subkeys.empty() ? "" : " subkeys");
}

std::string runReg(const Bytes& in, Shared& shared) {
    std::vector<registry::Change> changes;
    std::vector<std::size_t> lines;
    std::string error;
    const LONG rc = regfile::parse(in.data(), in.size(), changes, lines, error);
    if (rc != ERROR_SUCCESS) {
        const std::size_t colon = error.find(':');
        return std::to_string(rc) +
               outcome(colon == std::string::npos ? error : error.substr(colon));
    }
    ++shared.readOk;
    if (changes.size() != lines.size()) {
        std::fprintf(stderr, "changes and their lines differ in number\n");
        std::abort();
    }
    std::set<int> kinds;
    for (const registry::Change& c : changes)
        kinds.insert(int(c.kind));
    std::string out = "ok";
    for (int k : kinds)
        out += " " + std::to_string(k);
    return out;
}

const std::vector<std::string> kRegPieces = {"\r\n",
                                             "\n",
                                             "\r",
                                             "\\\r\n  ",
                                             "[",
                                             "]",
                                             "[-",
                                             "\"",
                                             "\\\"",
                                             "\\\\",
                                             "\\",
                                             "=",
                                             "=-",
                                             "@=",
                                             "hex:",
                                             "hex(2):",
                                             "hex(7):",
                                             "hex(b):",
                                             "hex(0):",
                                             "hex(ffffffff):",
                                             "dword:",
                                             "dword:ffffffff",
                                             ",",
                                             "00,",
                                             "ff,",
                                             "d8,",
                                             "dc,",
                                             ";",
                                             "HKEY_CURRENT_USER\\",
                                             "HKCU\\",
                                             "REGEDIT4",
                                             "Windows Registry Editor Version 5.00",
                                             "\xef\xbb\xbf",
                                             "\xff\xfe",
                                             "\xe4\xb8\xad",
                                             "\xc0\x80",
                                             "\0",
                                             " ",
                                             "\t",
                                             "\"=\"",
                                             "\\\\\\\\"};

const std::uint32_t kInteresting32[] = {0,          1,          2,          4,          8,
                                        0x20,       0x7f,       0x80,       0xff,       0x100,
                                        0xfff,      0x1000,     0x3fd8,     0x3fd9,     0x7fff,
                                        0x8000,     0xffff,     0x10000,    0x7fffffff, 0x80000000,
                                        0x80000004, 0x80000005, 0xfffffff8, 0xfffffffc, 0xffffffff};

class Mutator {
public:
    Mutator(std::uint64_t seed, bool text) : random_(seed), text_(text) {}

    Bytes mutate(const std::vector<Bytes>& pool) {
        Bytes b = pool[pick(pool.size())];
        const int rounds = 1 + int(pick(text_ ? 4 : 6));
        for (int i = 0; i < rounds; ++i)
            once(b, pool);
        if (b.size() > kMaxInput)
            b.resize(kMaxInput);
        return b;
    }

private:
    std::size_t pick(std::size_t n) { return n ? std::size_t(random_() % n) : 0; }

    void once(Bytes& b, const std::vector<Bytes>& pool) {
        switch (pick(text_ ? 9 : 8)) {
        case 0: // flip a bit
            if (!b.empty())
                b[pick(b.size())] ^= std::uint8_t(1u << pick(8));
            break;
        case 1: // an interesting byte
            if (!b.empty())
                b[pick(b.size())] = std::uint8_t(kInteresting32[pick(std::size(kInteresting32))]);
            break;
        case 2: { // an interesting 32-bit value, or an offset into the file, at a dword
            if (b.size() < 4)
                break;
            std::size_t at = pick(b.size() - 3);
            if (!text_)
                at &= ~std::size_t(3);
            std::uint32_t v = pick(2) ? kInteresting32[pick(std::size(kInteresting32))]
                                      : std::uint32_t(pick(b.size() + 64)) - 4096u;
            if (pick(4) == 0)
                v = v + std::uint32_t(pick(17)) - 8u;
            for (int i = 0; i < 4; ++i)
                b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
            break;
        }
        case 3: { // remove a run
            if (b.empty())
                break;
            const std::size_t at = pick(b.size());
            const std::size_t n = std::min(b.size() - at, 1 + pick(pick(2) ? 8 : 512));
            b.erase(b.begin() + long(at), b.begin() + long(at + n));
            break;
        }
        case 4: { // repeat a run
            if (b.empty())
                break;
            const std::size_t at = pick(b.size());
            const std::size_t n = std::min(b.size() - at, 1 + pick(64));
            const Bytes run(b.begin() + long(at), b.begin() + long(at + n));
            const std::size_t to = pick(b.size() + 1);
            for (std::size_t k = 0, times = 1 + pick(pick(8) ? 2 : 200); k < times; ++k)
                b.insert(b.begin() + long(to), run.begin(), run.end());
            break;
        }
        case 5: { // splice: the start of this input, the rest of another
            const Bytes& other = pool[pick(pool.size())];
            const std::size_t cut = pick(std::min(b.size(), other.size()) + 1);
            b.resize(cut);
            b.insert(b.end(), other.begin() + long(cut), other.end());
            break;
        }
        case 6: // truncate
            b.resize(pick(b.size() + 1));
            break;
        case 7: { // copy a dword from one place to another (an offset to a cell elsewhere)
            if (b.size() < 8)
                break;
            std::size_t from = pick(b.size() - 3), to = pick(b.size() - 3);
            if (!text_)
                from &= ~std::size_t(3), to &= ~std::size_t(3);
            std::memmove(b.data() + to, b.data() + from, 4);
            break;
        }
        default: { // a piece of .reg syntax
            const std::string& piece = kRegPieces[pick(kRegPieces.size())];
            const std::size_t at = pick(b.size() + 1);
            if (pick(3) == 0 && at < b.size()) {
                const std::size_t n = std::min(piece.size(), b.size() - at);
                std::memcpy(b.data() + at, piece.data(), n);
            } else {
                b.insert(b.begin() + long(at), piece.begin(), piece.end());
            }
            break;
        }
        }
    }

    std::mt19937_64 random_;
    bool text_;
};

std::vector<Bytes> readCorpus(const std::string& dir) {
    std::vector<Bytes> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream f(entry.path(), std::ios::binary);
        Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        if (b.size() <= kMaxInput)
            out.push_back(std::move(b));
    }
    return out;
}

// The child: runs mutated inputs until the time is up.
[[noreturn]] void child(bool reg, std::vector<Bytes> pool, std::uint64_t seed, double seconds,
                        Shared& shared) {
    Mutator mutator(seed, reg);
    std::set<std::string> seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (const Bytes& b : pool) { // the seeds themselves must read
        shared.size = std::uint32_t(b.size());
        if (!b.empty())
            std::memcpy(shared.input, b.data(), b.size());
        const std::string o = reg ? runReg(b, shared) : runHive(b, shared);
        if (o.rfind("ok", 0) != 0) {
            std::fprintf(stderr, "a seed does not read: %s\n", o.c_str());
            std::abort();
        }
        seen.insert(o);
    }
    std::uint64_t n = 0;
    while ((++n & 63) != 0 || std::chrono::steady_clock::now() < end) {
        const Bytes b = mutator.mutate(pool);
        shared.size = std::uint32_t(b.size());
        if (!b.empty())
            std::memcpy(shared.input, b.data(), b.size());
        const std::string o = reg ? runReg(b, shared) : runHive(b, shared);
        ++shared.executions;
        if (seen.insert(o).second && pool.size() < 4096) {
            pool.push_back(b);
            shared.pool = pool.size();
            shared.outcomes = seen.size();
        }
    }
    std::exit(0); // leak checks run here
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    std::uint64_t seed = std::random_device()();
    std::string findings = "fuzz-findings";
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--findings" && i + 1 < argc)
            findings = argv[++i];
        else
            args.push_back(a);
    }
    if (args.size() != 2 || (args[0] != "hive" && args[0] != "reg")) {
        std::fprintf(stderr, "usage: fuzz_readers [--seconds N] [--seed N] [--findings DIR] "
                             "hive|reg CORPUS_DIR\n");
        return 2;
    }
    const bool reg = args[0] == "reg";
    const std::vector<Bytes> corpus = readCorpus(args[1]);
    if (corpus.empty()) {
        std::fprintf(stderr, "no seed files in %s\n", args[1].c_str());
        return 2;
    }
    void* mem =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED)
        return 2;
    Shared& shared = *new (mem) Shared{};

    const auto start = std::chrono::steady_clock::now();
    auto left = [&] {
        return seconds -
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::uint64_t total = 0, found = 0, runs = 0;
    std::map<std::string, int> kinds;
    while (left() > 0.5 || runs == 0) {
        ++runs;
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0)
            child(reg, corpus, seed + runs, std::max(left(), 0.5), shared);
        std::uint64_t last = 0;
        int idle = 0, status = 0;
        bool hung = false;
        for (;;) {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid)
                break;
            usleep(100000);
            const std::uint64_t now = shared.executions.load();
            idle = now == last ? idle + 1 : 0;
            last = now;
            if (idle > 100) { // ten seconds on one input
                hung = true;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
        }
        total += shared.executions.exchange(0);
        const bool clean = !hung && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (clean)
            continue;
        ++found;
        const std::string kind = hung ? "hang"
                                 : WIFSIGNALED(status)
                                     ? "signal " + std::to_string(WTERMSIG(status))
                                     : "exit " + std::to_string(WEXITSTATUS(status));
        ++kinds[kind];
        std::filesystem::create_directories(findings);
        const std::string file =
            findings + "/" + args[0] + "-" + std::to_string(seed) + "-" + std::to_string(found);
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(shared.input), shared.size);
        std::printf("FINDING (%s): the input is in %s\n", kind.c_str(), file.c_str());
        if (found >= 20)
            break;
    }
    std::printf(
        "%s reader: %.0f s, seed %llu, %llu inputs (%.0f/s), %llu read without error, "
        "%llu inputs in the pool, %llu distinct outcomes, %llu findings\n",
        args[0].c_str(), seconds, static_cast<unsigned long long>(seed),
        static_cast<unsigned long long>(total),
        double(total) / std::max(1.0, seconds - std::max(left(), 0.0)),
        static_cast<unsigned long long>(shared.readOk.load()),
        static_cast<unsigned long long>(shared.pool.load() ? shared.pool.load() : corpus.size()),
        static_cast<unsigned long long>(shared.outcomes.load()),
        static_cast<unsigned long long>(found));
    return found ? 1 : 0;
}
