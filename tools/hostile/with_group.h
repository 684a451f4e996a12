// The start of every group operation of korvex-hostile: a group the client holds (one is added
// instead when there is none) as `group`, and its interface `Interface` as `object` (a live group
// that lacks it is a finding; a group cut off may lack any).
#pragma once

#define WITH_GROUP(Interface, iid, method)                                    \
    GroupRecord* group = AnyGroup();                                          \
    if (!group) {                                                             \
        AddGroup();                                                           \
        return;                                                               \
    }                                                                         \
    ComPtr<Interface> object = As<Interface>(*group, iid);                    \
    if (!object) {                                                            \
        if (group->life != GroupRecord::Life::cutOff)                         \
            log_.finding(method, "is not offered by a group");                \
        return;                                                               \
    }
