// SPDX-License-Identifier: MIT
#include "provider/mime/base64_stream.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kLineBytes = 57;  // 76 characters of base64
constexpr std::size_t kLineChars = 77;  // with the "\n"
// A few hundred system calls for 100 MiB, and little memory per stream.
constexpr std::size_t kBlockLines = 4096;
constexpr std::size_t kInBlock = kLineBytes * kBlockLines;
constexpr std::size_t kOutBlock = kLineChars * kBlockLines;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two characters per twelve bits: one look-up for half of a group of three
// bytes rather than one per six bits.
struct PairTable {
    char pairs[4096][2];
    constexpr PairTable() : pairs() {
        for (int i = 0; i < 4096; ++i) {
            pairs[i][0] = kAlphabet[i >> 6];
            pairs[i][1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;

inline char* encodeGroup(const unsigned char* in, char* out) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, kPairs.pairs[v >> 12], 2);
    std::memcpy(out + 2, kPairs.pairs[v & 0xFFF], 2);
    return out + 4;
}

}  // namespace

std::int64_t mbBase64EncodedLength(std::int64_t length) {
    const std::int64_t lines = length / kLineBytes;
    const std::int64_t rest = length % kLineBytes;
    return lines * kLineChars + (rest == 0 ? 0 : (rest + 2) / 3 * 4 + 1);
}

std::size_t mbBase64EncodeLines(const unsigned char* in, std::size_t length, char* out) {
    char* put = out;
    for (; length >= kLineBytes; length -= kLineBytes) {
        for (std::size_t i = 0; i < kLineBytes / 3; ++i, in += 3) {
            put = encodeGroup(in, put);
        }
        *put++ = '\n';
    }
    if (length == 0) {
        return static_cast<std::size_t>(put - out);
    }
    for (; length >= 3; length -= 3, in += 3) {
        put = encodeGroup(in, put);
    }
    if (length > 0) {
        const unsigned char tail[3] = {in[0], length == 2 ? in[1] : std::uint8_t{0}, 0};
        encodeGroup(tail, put);
        put[3] = '=';
        put[2] = length == 2 ? put[2] : '=';
        put += 4;
    }
    *put++ = '\n';
    return static_cast<std::size_t>(put - out);
}

extern "C" {

struct MbBase64Stream {
    GMimeStream parent;
    int fd;
    std::int64_t start;  // the range of fd encoded
    std::int64_t length;
    std::int64_t consumed;  // bytes of the range already encoded
    unsigned char* in;      // both blocks exist only while the stream is being read
    char* out;
    std::size_t outFill;
    std::size_t outRead;
    gboolean closed;
};

struct MbBase64StreamClass {
    GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(MbBase64Stream, mb_base64_stream, GMIME_TYPE_STREAM)

struct MbBase64Part {
    GMimePart parent;
};

struct MbBase64PartClass {
    GMimePartClass parent_class;
};

G_DEFINE_TYPE(MbBase64Part, mb_base64_part, GMIME_TYPE_PART)

}  // extern "C"

namespace {

MbBase64Stream* self(GMimeStream* stream) {
    return reinterpret_cast<MbBase64Stream*>(stream);
}

void releaseBlocks(MbBase64Stream* s) {
    g_free(s->in);
    g_free(s->out);
    s->in = nullptr;
    s->out = nullptr;
    s->outFill = s->outRead = 0;
}

bool drained(const MbBase64Stream* s) {
    return s->consumed == s->length && s->outRead == s->outFill;
}

// Encodes the next block of the range; false with errno.
bool fill(MbBase64Stream* s) {
    if (s->in == nullptr) {
        s->in = static_cast<unsigned char*>(g_malloc(kInBlock));
        s->out = static_cast<char*>(g_malloc(kOutBlock));
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(kInBlock, s->length - s->consumed));
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(s->fd, s->in + got, want - got,
                                  static_cast<off_t>(s->start + s->consumed + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // The file ended inside the range: never a silently short attachment.
            errno = n == 0 ? EIO : errno;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    s->outFill = mbBase64EncodeLines(s->in, want, s->out);
    s->outRead = 0;
    s->consumed += static_cast<std::int64_t>(want);
    return true;
}

ssize_t streamRead(GMimeStream* stream, char* buf, size_t len) {
    MbBase64Stream* s = self(stream);
    if (s->closed) {
        errno = EBADF;
        return -1;
    }
    if (drained(s)) {
        return 0;
    }
    if (s->outRead == s->outFill && !fill(s)) {
        return -1;
    }
    const std::size_t n = std::min(len, s->outFill - s->outRead);
    std::memcpy(buf, s->out + s->outRead, n);
    s->outRead += n;
    stream->position += static_cast<gint64>(n);
    if (drained(s)) {
        releaseBlocks(s);
    }
    return static_cast<ssize_t>(n);
}

ssize_t streamWrite(GMimeStream*, const char*, size_t) {
    errno = EBADF;
    return -1;
}

int streamFlush(GMimeStream*) {
    return 0;
}

int streamClose(GMimeStream* stream) {
    MbBase64Stream* s = self(stream);
    releaseBlocks(s);
    s->closed = TRUE;
    return 0;
}

gboolean streamEos(GMimeStream* stream) {
    MbBase64Stream* s = self(stream);
    return s->closed || drained(s);
}

int streamReset(GMimeStream* stream) {
    MbBase64Stream* s = self(stream);
    if (s->closed) {
        errno = EBADF;
        return -1;
    }
    s->consumed = 0;
    s->outFill = s->outRead = 0;
    stream->position = 0;
    return 0;
}

// Only back to the start, or nowhere: all GMime asks of a part's content.
gint64 streamSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
    const gint64 length = mbBase64EncodedLength(self(stream)->length);
    const gint64 target = whence == GMIME_STREAM_SEEK_SET   ? offset
                          : whence == GMIME_STREAM_SEEK_CUR ? stream->position + offset
                                                            : length + offset;
    if (target == stream->position && !self(stream)->closed) {
        return target;
    }
    if (target == 0) {
        return streamReset(stream);
    }
    errno = EINVAL;
    return -1;
}

gint64 streamTell(GMimeStream* stream) {
    return stream->position;
}

gint64 streamLength(GMimeStream* stream) {
    return mbBase64EncodedLength(self(stream)->length);
}

GMimeStream* streamSubstream(GMimeStream*, gint64, gint64) {
    return nullptr;
}

// Writes the whole encoded range to out in blocks, without the 4 KiB copies
// of g_mime_stream_write_to_stream; the bytes written, or -1 with errno.
gint64 copyTo(MbBase64Stream* s, GMimeStream* out) {
    if (streamReset(&s->parent) != 0) {
        return -1;
    }
    gint64 total = 0;
    while (!drained(s)) {
        if (!fill(s)) {
            return -1;
        }
        for (std::size_t done = 0; done < s->outFill;) {
            errno = 0;
            const ssize_t n = g_mime_stream_write(out, s->out + done, s->outFill - done);
            if (n <= 0) {
                // A file stream reports a failed write as nothing written.
                errno = errno == 0 ? EIO : errno;
                return -1;
            }
            done += static_cast<std::size_t>(n);
        }
        s->outRead = s->outFill;
        total += static_cast<gint64>(s->outFill);
    }
    s->parent.position = total;
    releaseBlocks(s);
    return total;
}

// Content GMime would only pass through its newline filter, which can change
// nothing in these lines, is written directly; anything else as GMime does.
ssize_t partWrite(GMimeObject* object, GMimeFormatOptions* options, gboolean contentOnly,
                  GMimeStream* out) {
    GMimePart* part = GMIME_PART(object);
    GMimeStream* data =
        part->content != nullptr ? g_mime_data_wrapper_get_stream(part->content) : nullptr;
    GMimeFormatOptions* format = options != nullptr ? options : g_mime_format_options_get_default();
    if (data == nullptr || !G_TYPE_CHECK_INSTANCE_TYPE(data, mb_base64_stream_get_type()) ||
        part->encoding != GMIME_CONTENT_ENCODING_BASE64 ||
        g_mime_data_wrapper_get_encoding(part->content) != GMIME_CONTENT_ENCODING_BASE64 ||
        g_mime_format_options_get_newline_format(format) != GMIME_NEWLINE_FORMAT_UNIX) {
        return GMIME_OBJECT_CLASS(mb_base64_part_parent_class)
            ->write_to_stream(object, options, contentOnly, out);
    }
    gint64 total = 0;
    if (!contentOnly) {
        const ssize_t headers = g_mime_header_list_write_to_stream(object->headers, format, out);
        if (headers < 0 || g_mime_stream_write_string(out, "\n") != 1) {
            return -1;
        }
        total = headers + 1;
    }
    const gint64 content = copyTo(self(data), out);
    return content < 0 ? -1 : static_cast<ssize_t>(total + content);
}

}  // namespace

extern "C" {

static void mb_base64_part_init(MbBase64Part*) {}

static void mb_base64_part_class_init(MbBase64PartClass* klass) {
    reinterpret_cast<GMimeObjectClass*>(klass)->write_to_stream = partWrite;
}

static void mb_base64_stream_init(MbBase64Stream*) {}

static void mb_base64_stream_finalize(GObject* object) {
    releaseBlocks(reinterpret_cast<MbBase64Stream*>(object));
    G_OBJECT_CLASS(mb_base64_stream_parent_class)->finalize(object);
}

static void mb_base64_stream_class_init(MbBase64StreamClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = mb_base64_stream_finalize;
    GMimeStreamClass* stream = &klass->parent_class;
    stream->read = streamRead;
    stream->write = streamWrite;
    stream->flush = streamFlush;
    stream->close = streamClose;
    stream->eos = streamEos;
    stream->reset = streamReset;
    stream->seek = streamSeek;
    stream->tell = streamTell;
    stream->length = streamLength;
    stream->substream = streamSubstream;
}

}  // extern "C"

GMimeStream* mbBase64StreamNew(int fd, std::int64_t offset, std::int64_t length) {
    struct stat info {};
    if (offset < 0 || length < -1) {
        errno = EINVAL;
        return nullptr;
    }
    if (::fstat(fd, &info) != 0) {
        return nullptr;
    }
    if (length < 0) {
        if (offset > info.st_size) {
            errno = EINVAL;
            return nullptr;
        }
        length = info.st_size - offset;
    } else if (length > info.st_size || offset > info.st_size - length) {
        errno = EIO;  // the data announced is not all there
        return nullptr;
    }
    auto* s = static_cast<MbBase64Stream*>(g_object_new(mb_base64_stream_get_type(), nullptr));
    g_mime_stream_construct(&s->parent, 0, -1);
    s->fd = fd;
    s->start = offset;
    s->length = length;
    return &s->parent;
}

GMimePart* mbBase64PartNew(int fd, std::int64_t offset, std::int64_t length) {
    GMimeStream* data = mbBase64StreamNew(fd, offset, length);
    if (data == nullptr) {
        return nullptr;
    }
    auto* part = static_cast<GMimePart*>(g_object_new(mb_base64_part_get_type(), nullptr));
    GMimeContentType* type = g_mime_content_type_new("application", "octet-stream");
    g_mime_object_set_content_type(GMIME_OBJECT(part), type);
    g_object_unref(type);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(data, GMIME_CONTENT_ENCODING_BASE64);
    g_object_unref(data);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    return part;
}
