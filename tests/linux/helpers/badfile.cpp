// A FUSE file system with one read-only file, "disk", whose reads fail with EIO
// where they touch chosen byte ranges, and stop short at chosen offsets: a disk
// with bad sectors, for a loop device to sit on.
//
// Usage: scandor_badfile SIZE BAD SHORT MOUNTPOINT [--slow=S] [--log=FILE] [fuse options]
//   SIZE   length of the file in bytes
//   BAD    "offset:length,offset:length" or "-"
//   SHORT  "offset,offset" or "-": a read starting before such an offset returns
//          only the bytes up to it (the caller must read on)
//   S      "offset:length:ms,...": a read touching such a range sleeps ms first
//   FILE   every read is appended as "offset size" (the reads the disk saw)
// The content of byte o is (o / 512 * 31 + o % 512) & 0xff.

#define FUSE_USE_VERSION 35
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#define MAX_RANGES 64

static int64_t file_size;
static int64_t bad_from[MAX_RANGES], bad_to[MAX_RANGES];
static int bad_count;
static int64_t short_at[MAX_RANGES];
static int short_count;
static int64_t slow_from[MAX_RANGES], slow_to[MAX_RANGES], slow_ms[MAX_RANGES];
static int slow_count;
static FILE* read_log;

static int bf_getattr(const char* path, struct stat* st, fuse_file_info*) {
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, "/disk") != 0) return -ENOENT;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = file_size;
    return 0;
}

static int bf_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                      fuse_readdir_flags) {
    if (strcmp(path, "/") != 0) return -ENOENT;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
    fill(buf, "disk", nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

static int bf_open(const char* path, fuse_file_info* fi) {
    if (strcmp(path, "/disk") != 0) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    // Every read reaches this process as asked: no page cache, no readahead.
    fi->direct_io = 1;
    fi->keep_cache = 0;
    return 0;
}

static int bf_read(const char*, char* buf, size_t size, off_t off, fuse_file_info*) {
    if (read_log) {
        fprintf(read_log, "%lld %zu\n", static_cast<long long>(off), size);
        fflush(read_log);
    }
    for (int i = 0; i < slow_count; ++i)
        if (slow_from[i] < off + static_cast<int64_t>(size) && slow_to[i] > off)
            usleep(static_cast<useconds_t>(slow_ms[i] * 1000));
    if (off >= file_size) return 0;
    int64_t end = off + static_cast<int64_t>(size);
    if (end > file_size) end = file_size;
    for (int i = 0; i < short_count; ++i)
        if (off < short_at[i] && end > short_at[i]) end = short_at[i];
    for (int i = 0; i < bad_count; ++i)
        if (bad_from[i] < end && bad_to[i] > off) return -EIO;
    for (int64_t o = off; o < end; ++o) buf[o - off] = static_cast<char>((o / 512 * 31 + o % 512) & 0xff);
    return static_cast<int>(end - off);
}

static fuse_operations MakeOps() {
    fuse_operations o{};
    o.getattr = bf_getattr;
    o.open = bf_open;
    o.read = bf_read;
    o.readdir = bf_readdir;
    return o;
}
static const fuse_operations ops = MakeOps();

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s SIZE BAD SHORT MOUNTPOINT [fuse options]\n", argv[0]);
        return 2;
    }
    file_size = strtoll(argv[1], nullptr, 10);
    if (strcmp(argv[2], "-") != 0) {
        for (char* p = argv[2]; *p && bad_count < MAX_RANGES;) {
            char* q;
            int64_t from = strtoll(p, &q, 10);
            if (*q != ':') return 2;
            int64_t len = strtoll(q + 1, &q, 10);
            bad_from[bad_count] = from;
            bad_to[bad_count++] = from + len;
            p = *q == ',' ? q + 1 : q;
        }
    }
    if (strcmp(argv[3], "-") != 0) {
        for (char* p = argv[3]; *p && short_count < MAX_RANGES;) {
            char* q;
            short_at[short_count++] = strtoll(p, &q, 10);
            p = *q == ',' ? q + 1 : q;
        }
    }
    // fuse_main gets: program, mount point, foreground, single-threaded, the rest.
    char* fargs[32];
    int n = 0;
    fargs[n++] = argv[0];
    fargs[n++] = argv[4];
    fargs[n++] = const_cast<char*>("-f");
    fargs[n++] = const_cast<char*>("-s");
    for (int i = 5; i < argc && n < 31; ++i) {
        if (strncmp(argv[i], "--slow=", 7) == 0) {
            for (char* p = argv[i] + 7; *p && slow_count < MAX_RANGES;) {
                char* q;
                int64_t from = strtoll(p, &q, 10);
                if (*q != ':') return 2;
                int64_t len = strtoll(q + 1, &q, 10);
                if (*q != ':') return 2;
                int64_t ms = strtoll(q + 1, &q, 10);
                slow_from[slow_count] = from;
                slow_to[slow_count] = from + len;
                slow_ms[slow_count++] = ms;
                p = *q == ',' ? q + 1 : q;
            }
        } else if (strncmp(argv[i], "--log=", 6) == 0) {
            read_log = fopen(argv[i] + 6, "a");
            if (!read_log) return 2;
        } else {
            fargs[n++] = argv[i];
        }
    }
    fargs[n] = nullptr;
    return fuse_main(n, fargs, &ops, nullptr);
}
