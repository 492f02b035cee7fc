// The frame assembler on arbitrary bytes cut into arbitrary chunks. The first byte tells how
// often the chunks are fed over again (so that the pending text can reach its bound with small
// inputs); each chunk is one length byte and that many bytes.
//  - every frame starts with '*', ends with "##", holds no other "##" and only frame characters;
//  - a frame is never longer than the bounded pending text plus the chunk that ends it;
//  - the pending text stays within its bound and is the start of a frame;
//  - feeding the same bytes in one chunk gives the same frames and pending text, as long as they
//    fit within the bound (beyond it the chunked feed drops the oldest pending bytes).

#include "fuzzsupport.h"

#include "gateway/frameassembler.h"

#include <QByteArrayList>
#include <QList>

using namespace powerlog;

namespace {

bool isFrameChar(char c)
{
    return c >= 0x21 && c <= 0x7E;
}

void checkFrame(QLatin1StringView frame, qsizetype chunkSize)
{
    FUZZ_CHECK(frame.size() >= 3);
    FUZZ_CHECK(frame.startsWith(QLatin1Char('*')));
    FUZZ_CHECK(frame.endsWith(QLatin1StringView("##")));
    FUZZ_CHECK(frame.indexOf(QLatin1StringView("##")) == frame.size() - 2);
    for (char c : frame)
        FUZZ_CHECK(isFrameChar(c));
    FUZZ_CHECK(frame.size() <= FrameAssembler::kLimit + chunkSize);
}

void checkPending(const FrameAssembler& assembler)
{
    const QString pending = assembler.pending();
    FUZZ_CHECK(pending.size() <= FrameAssembler::kLimit);
    if (pending.isEmpty())
        return;
    FUZZ_CHECK(pending.startsWith(u'*'));
    FUZZ_CHECK(!pending.contains(QStringLiteral("##")));
    for (QChar c : pending)
        FUZZ_CHECK(c.unicode() <= 0x7E && isFrameChar(char(c.unicode())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int rounds = 1 + data[0] % 64;
    QByteArrayList chunks;
    for (size_t at = 1; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        chunks << QByteArray(reinterpret_cast<const char*>(data + at + 1), qsizetype(length));
        at += 1 + length;
    }

    FrameAssembler pieces;
    QByteArrayList frames;
    QByteArray whole;
    for (int round = 0; round < rounds; ++round) {
        for (const QByteArray& chunk : std::as_const(chunks)) {
            whole += chunk;
            FUZZ_CHECK(pieces.feed(chunk, [&](QLatin1StringView frame) {
                checkFrame(frame, chunk.size());
                frames << QByteArray(frame.data(), frame.size());
                return true;
            }));
        }
        checkPending(pieces); // a copy of up to 64 KiB: once per round, not once per chunk
    }

    FrameAssembler once;
    QByteArrayList framesAtOnce;
    FUZZ_CHECK(once.feed(whole, [&](QLatin1StringView frame) {
        checkFrame(frame, whole.size());
        framesAtOnce << QByteArray(frame.data(), frame.size());
        return true;
    }));
    checkPending(once);
    if (whole.size() <= FrameAssembler::kLimit) {
        FUZZ_CHECK(frames == framesAtOnce);
        FUZZ_CHECK(pieces.pending() == once.pending());
    }

    // A receiver that stops after its first frame sees no second one.
    FrameAssembler stopping;
    int handed = 0;
    const bool finished = stopping.feed(whole, [&](QLatin1StringView) {
        ++handed;
        return false;
    });
    FUZZ_CHECK(handed <= 1 && finished == (handed == 0));
    return 0;
}
