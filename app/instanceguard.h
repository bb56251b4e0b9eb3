#pragma once

#include <string>

namespace lumbrio {

/// A machine-wide lock that the kernel releases when the process ends, however it ends: a
/// socket bound to a name in the abstract Unix namespace. Nothing is left on disk, so the lock
/// can never go stale.
class InstanceGuard
{
public:
    enum class Estado
    {
        Adquirido,    ///< this process holds the lock
        YaExiste,     ///< another process holds it
        NoDisponible, ///< the lock could not be created for another reason
    };

    explicit InstanceGuard(const std::string &name);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    Estado estado() const { return m_estado; }

private:
    int m_fd = -1;
    Estado m_estado = Estado::NoDisponible;
};

/// The single-instance lock name the server has always used.
inline constexpr const char *NombreMutex = "Derarivivevurozidadazod2";

} // namespace lumbrio
