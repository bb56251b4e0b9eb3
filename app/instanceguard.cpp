#include "app/instanceguard.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumbrio {

InstanceGuard::InstanceGuard(const std::string &name)
{
    // Close-on-exec: a child process must not keep the lock alive after we end.
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // A leading NUL byte puts the name in the abstract namespace.
    const std::size_t n = std::min(name.size(), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, name.data(), n);
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);

    if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&addr), len) == 0) {
        m_estado = Estado::Adquirido;
        return;
    }
    m_estado = errno == EADDRINUSE ? Estado::YaExiste : Estado::NoDisponible;
    ::close(m_fd);
    m_fd = -1;
}

InstanceGuard::~InstanceGuard()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace lumbrio
