"""Memory control groups for the tests that run a program inside one."""

import os
import unittest


def make_control_group(limit):
    """A fresh memory control group limited to `limit` bytes; returns the
    path of its cgroup.procs file and of the group, or raises SkipTest saying
    why none can be made here."""
    name = "voxscope-test-%d" % os.getpid()
    tried = []
    for root, limit_file in (("/sys/fs/cgroup", "memory.max"),
                             ("/sys/fs/cgroup/unified", "memory.max"),
                             ("/sys/fs/cgroup/memory", "memory.limit_in_bytes")):
        if not os.path.isdir(root):
            continue
        if limit_file == "memory.max":
            try:
                with open(os.path.join(root, "cgroup.subtree_control")) as f:
                    if "memory" not in f.read().split():
                        tried.append("%s: memory controller not enabled" % root)
                        continue
            except OSError as e:
                tried.append("%s: %s" % (root, e))
                continue
        group = os.path.join(root, name)
        try:
            os.mkdir(group)
        except OSError as e:
            tried.append("%s: %s" % (root, e))
            continue
        try:
            with open(os.path.join(group, limit_file), "w") as f:
                f.write(str(limit))
        except OSError as e:
            os.rmdir(group)
            tried.append("%s: %s" % (group, e))
            continue
        return os.path.join(group, "cgroup.procs"), group
    raise unittest.SkipTest("no memory control group can be made here (%s)" % "; ".join(tried))
