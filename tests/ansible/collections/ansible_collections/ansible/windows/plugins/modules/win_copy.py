#!/usr/bin/python3
# Stand-in for ansible.windows.win_copy on localhost (see the collection's README).
import os
import shutil

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec=dict(src=dict(type="str", required=True), dest=dict(type="str", required=True)),
                           supports_check_mode=True)
    src, dest = module.params["src"], module.params["dest"]
    if not os.path.exists(src.rstrip("/")):
        module.fail_json(msg="Cannot copy src file: '%s' as it does not exist" % src)
    if not module.check_mode:
        if src.endswith("/"):
            shutil.copytree(src, dest, dirs_exist_ok=True)
        else:
            shutil.copyfile(src, dest)
    module.exit_json(changed=True, src=src, dest=dest)


main()
