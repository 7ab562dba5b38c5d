#include "codecs/inflater.h"

#include <algorithm>

#include <unistd.h>

Inflater::Inflater(std::FILE* f, off_t from, std::int64_t max, bool several)
    : file(f), start(from), at(from), limit(max), inputLeft(max), multiMember(several) {
    isal_inflate_init(state.get());
    state->avail_in = 0;
}

Inflater::~Inflater() = default;

bool Inflater::rewind() {
    isal_inflate_reset(state.get());
    state->avail_in = 0;
    ended = false;
    memberStart = true;
    position = 0;
    inputLeft = limit;
    at = start;
    return fseeko(file, start, SEEK_SET) == 0;
}

Inflater::Result Inflater::skip(std::uint64_t length) {
    std::vector<unsigned char> dropped(std::size_t(std::min<std::uint64_t>(length, 1 << 20)));
    while (length > 0) {
        const std::size_t part = std::size_t(std::min<std::uint64_t>(length, dropped.size()));
        const Result result = next(dropped.data(), part);
        if (result != Result::Done)
            return result;
        length -= part;
    }
    return Result::Done;
}

std::unique_ptr<Inflater> Inflater::copy() const {
    std::unique_ptr<Inflater> twin(new Inflater(file, start, limit, multiMember));
    *twin->state = *state;
    twin->input = input;
    if (state->next_in)
        twin->state->next_in = twin->input.data() + (state->next_in - input.data());
    twin->at = at;
    twin->inputLeft = inputLeft;
    twin->ended = ended;
    twin->memberStart = memberStart;
    twin->position = position;
    return twin;
}

// Reads the next compressed bytes into the input buffer; false at the data's end.
bool Inflater::fillInput() {
    std::size_t want = input.size();
    if (inputLeft >= 0)
        want = std::size_t(std::min<std::int64_t>(std::int64_t(want), inputLeft));
    const ssize_t got = want > 0 ? pread(fileno(file), input.data(), want, at) : 0;
    state->avail_in = got > 0 ? std::uint32_t(got) : 0;
    state->next_in = input.data();
    at += off_t(state->avail_in);
    if (inputLeft >= 0)
        inputLeft -= std::int64_t(state->avail_in);
    return state->avail_in > 0;
}

// A member's first byte tells its wrapper: gzip's magic, or else a zlib header.
void Inflater::startMember() {
    unsigned char* in = state->next_in;
    const std::uint32_t left = state->avail_in;
    isal_inflate_reset(state.get());
    state->next_in = in;
    state->avail_in = left;
    state->crc_flag = in[0] == 0x1f ? ISAL_GZIP : ISAL_ZLIB;
    memberStart = false;
}

Inflater::Result Inflater::next(unsigned char* out, std::size_t length) {
    while (length > 0) {
        // ISA-L counts in 32 bits; a slice may be larger.
        const std::size_t chunk = std::min<std::size_t>(length, 1u << 30);
        state->next_out = out;
        state->avail_out = std::uint32_t(chunk);
        // Bytes given before the data ended count, so that a reader of a whole stream knows
        // its length.
        const auto cutShort = [&] {
            position += chunk - state->avail_out;
            return Result::Short;
        };
        while (state->avail_out > 0) {
            if (ended && !multiMember)
                return cutShort();
            // Past the last compressed byte ISA-L may still hold output to give.
            const bool more = state->avail_in > 0 || fillInput();
            if (ended) { // gzip's files may hold several members, one after another
                if (!more)
                    return cutShort();
                ended = false;
                memberStart = true;
            }
            if (memberStart && !more)
                return cutShort();
            if (memberStart)
                startMember();
            const std::uint32_t room = state->avail_out, given = state->avail_in;
            if (isal_inflate(state.get()) != ISAL_DECOMP_OK)
                return Result::Damaged;
            ended = state->block_state == ISAL_BLOCK_FINISH;
            const bool stuck = !ended && state->avail_out == room && state->avail_in == given;
            if (stuck) // nothing taken and nothing given: no more to come of it
                return more ? Result::Damaged : cutShort();
        }
        out += chunk;
        length -= chunk;
        position += chunk;
    }
    return Result::Done;
}
