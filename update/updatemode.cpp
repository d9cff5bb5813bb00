#include "update/updatemode.h"

namespace Update {

int run(int argc, char **argv, const Startup::Context &context)
{
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    Q_UNUSED(context)
    return 0;
}

} // namespace Update
