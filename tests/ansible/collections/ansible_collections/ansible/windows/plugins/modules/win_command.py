#!/usr/bin/python3
# Stand-in for ansible.windows.win_command on localhost (see the collection's README).
import json
import os
import shlex

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec=dict(_raw_params=dict(type="str"), cmd=dict(type="str")),
                           supports_check_mode=False)
    line = module.params["_raw_params"] or module.params["cmd"]
    args = shlex.split(line)
    folder = os.path.dirname(args[0])
    with open(os.path.join(folder, "calls.log"), "a") as log:
        log.write(line + "\n")
    with open(os.path.join(folder, "answers.json")) as f:
        answers = json.load(f)
    done = len(open(os.path.join(folder, "calls.log")).read().splitlines()) - 1
    code, answer = answers[min(done, len(answers) - 1)]
    text = json.dumps(answer) + "\n"
    if "--result" in args:
        with open(args[args.index("--result") + 1], "w") as result:
            result.write(text)
    rc = code & 0xFFFFFFFF
    result = dict(changed=True, cmd=line, rc=rc, stdout=text, stdout_lines=[text.rstrip("\n")], stderr="")
    if rc != 0:
        module.fail_json(msg="non-zero return code", **result)
    module.exit_json(**result)


main()
