#include "recovery_append.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

vorb_status append_recovery_record(const Replacement& target, unsigned percent, FdOut& out) {
    InFile written;
    written.fd = ::openat(target.dir_fd, target.temp_name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (written.fd < 0) {
        out.error = errno;
        return VORB_ERR_READ;
    }
    const vorb_source src{in_file_read, nullptr, &written, in_file_size(written)};
    const vorb_status st = vorb_recovery_build(&src, percent, fd_out_write, &out);
    if (st == VORB_ERR_READ || st == VORB_ERR_TRUNCATED) out.error = written.error ? written.error : EIO;
    in_file_close(written);
    return st == VORB_ERR_TRUNCATED ? VORB_ERR_READ : st;
}
