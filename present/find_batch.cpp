#include "present/find_batch.h"

#include "base/cp932.h"
#include "base/errors.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace ubin {

namespace {

// The text of a line that did not decode: what decodes as it is, each run of bytes that does not
// as one U+FFFD, so that the output stays text and the reader still sees which line it was.
std::string Shown(std::string_view bytes, bool cp932)
{
    std::u16string out;
    bool inRun = false;
    while (!bytes.empty()) {
        std::size_t good = 0;
        if (cp932) {
            std::u16string part; // TryDecodeCp932 starts its output afresh
            good = TryDecodeCp932(bytes, part);
            out += part;
        } else {
            // The longest prefix that is UTF-8, a character at a time by the length its first
            // byte announces.
            while (good < bytes.size()) {
                const auto lead = static_cast<unsigned char>(bytes[good]);
                const std::size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
                if (good + n > bytes.size()) break;
                try {
                    out += FromUtf8(bytes.substr(good, n));
                } catch (const EncodingError&) {
                    break;
                }
                good += n;
            }
        }
        if (good > 0) inRun = false;
        if (good == bytes.size()) break;
        if (!inRun) out += u'\uFFFD';
        inRun = true;
        bytes.remove_prefix(good + 1);
    }
    return ToUtf8(out);
}

// Chunks small enough that every thread gets work on a short list, large enough that taking one
// costs nothing next to answering it.
std::size_t ChunkSize(std::size_t lines, unsigned threads)
{
    return std::clamp<std::size_t>(lines / (std::size_t{threads} * 16), 1, 256);
}

} // namespace

BatchLine DecodeBatchLine(std::size_t number, std::string_view bytes, bool cp932)
{
    BatchLine line;
    line.number = number;
    try {
        line.query = cp932 ? DecodeCp932(bytes) : FromUtf8(bytes);
        line.input = cp932 ? ToUtf8(line.query) : std::string(bytes);
    } catch (const EncodingError&) {
        line.input = Shown(bytes, cp932);
        line.query.clear();
        line.error = cp932 ? batch_message::kNotCp932 : batch_message::kNotUtf8;
    }
    return line;
}

void AnswerInOrder(const Finder& finder, const std::vector<BatchLine>& lines, unsigned threads, const TakeAnswer& take,
                   const Finder* older)
{
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(lines.size(), 1)));
    if (threads == 1) {
        for (const BatchLine& line : lines) take(line, AnswerBatchLine(finder, line, older));
        return;
    }

    const std::size_t chunk = ChunkSize(lines.size(), threads);
    const std::size_t chunks = (lines.size() + chunk - 1) / chunk;
    std::vector<BatchAnswer> answers(lines.size());
    std::vector<char> done(chunks, 0);
    // Answers wait at most this many chunks ahead of the output: a slow reader of the output
    // (a pipe) holds the threads back rather than every answer in memory.
    const std::size_t window = std::size_t{threads} * 4;
    std::size_t written = 0; // chunks handed to `take`
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::exception_ptr failure;

    const auto work = [&] {
        try {
            while (!stop) {
                const std::size_t c = next++;
                if (c >= chunks) break;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return c < written + window || stop; });
                    if (stop) break;
                }
                const std::size_t end = std::min(lines.size(), (c + 1) * chunk);
                for (std::size_t i = c * chunk; i < end; ++i) answers[i] = AnswerBatchLine(finder, lines[i], older);
                const std::lock_guard lock(mutex);
                done[c] = 1;
                changed.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
            stop = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) workers.emplace_back(work);
    // The workers end before this function does, whatever `take` throws.
    const auto joinAll = [&] {
        {
            const std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        for (std::thread& w : workers) w.join();
    };
    try {
        for (std::size_t c = 0; c < chunks; ++c) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return done[c] || failure; });
                if (!done[c]) break;
            }
            const std::size_t end = std::min(lines.size(), (c + 1) * chunk);
            for (std::size_t i = c * chunk; i < end; ++i) {
                take(lines[i], answers[i]);
                answers[i] = BatchAnswer(); // written: its memory goes back
            }
            const std::lock_guard lock(mutex);
            ++written;
            changed.notify_all();
        }
    } catch (...) {
        joinAll();
        throw;
    }
    joinAll();
    if (failure) std::rethrow_exception(failure);
}

} // namespace ubin
