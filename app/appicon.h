#pragma once

namespace lumbrio {

/// What the server needs of its notification-area icon: showing and hiding it. The desktop
/// shell provides one; headless mode has none.
class AppIcon
{
public:
    virtual ~AppIcon() = default;
    virtual void setIconVisible(bool visible) = 0;
};

} // namespace lumbrio
