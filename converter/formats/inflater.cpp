#include "inflater.h"

#include <algorithm>

#include <unistd.h>

Inflater::Inflater(std::FILE* f, off_t from, std::int64_t max, bool several)
    : file(f), start(from), at(from), limit(max), inputLeft(max), multiMember(several) {
    inflateInit2(&stream, 15 + 32); // a zlib or a gzip stream, whichever the header shows
}

Inflater::~Inflater() {
    inflateEnd(&stream);
}

bool Inflater::rewind() {
    inflateReset(&stream);
    stream.avail_in = 0;
    ended = false;
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
    inflateEnd(&twin->stream);
    if (inflateCopy(&twin->stream, const_cast<z_stream*>(&stream)) != Z_OK)
        return nullptr;
    twin->input = input;
    if (stream.next_in)
        twin->stream.next_in = twin->input.data() + (stream.next_in - input.data());
    twin->at = at;
    twin->inputLeft = inputLeft;
    twin->ended = ended;
    twin->position = position;
    return twin;
}

Inflater::Result Inflater::next(unsigned char* out, std::size_t length) {
    while (length > 0) {
        // zlib counts in 32 bits; a slice may be larger.
        const std::size_t chunk = std::min<std::size_t>(length, 1u << 30);
        stream.next_out = out;
        stream.avail_out = uInt(chunk);
        while (stream.avail_out > 0) {
            if (ended && !multiMember)
                return Result::Short;
            if (stream.avail_in == 0) {
                std::size_t want = input.size();
                if (inputLeft >= 0)
                    want = std::size_t(std::min<std::int64_t>(std::int64_t(want), inputLeft));
                const ssize_t got = pread(fileno(file), input.data(), want, at);
                stream.avail_in = got > 0 ? uInt(got) : 0;
                stream.next_in = input.data();
                at += off_t(stream.avail_in);
                if (inputLeft >= 0)
                    inputLeft -= std::int64_t(stream.avail_in);
                if (stream.avail_in == 0)
                    return Result::Short;
            }
            if (ended) { // gzip's files may hold several members, one after another
                inflateReset(&stream);
                ended = false;
            }
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                ended = true;
            else if (result != Z_OK)
                return Result::Damaged;
        }
        out += chunk;
        length -= chunk;
        position += chunk;
    }
    return Result::Done;
}
