#!/usr/bin/python3
# Stand-in for ansible.windows.win_reboot on localhost (see the collection's README).
from ansible.module_utils.basic import AnsibleModule

module = AnsibleModule(argument_spec=dict(reboot_timeout=dict(type="int", default=600)), supports_check_mode=True)
module.exit_json(changed=True, rebooted=True, elapsed=0)
