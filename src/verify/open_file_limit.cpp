#include "verify/open_file_limit.h"

#include <sys/resource.h>

namespace kestrova {

unsigned long raise_open_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return static_cast<unsigned long>(limit.rlim_cur);
}

} // namespace kestrova
