#!/usr/bin/env python3
"""Runs the shell examples of README.md and docs/*.md as written, against one build.

    run_examples.py --source DIR --build DIR [--timeout S] [--list] [--verbose] [PAGE...]

PAGE is a path relative to the source tree (README.md, docs/client.md); without one, every
page. What a page's fences mean (docs/contributing.md, "Examples that run"):

  ```sh                 run, as written, in the page's shell session
  ```LANG file=NAME     not run, but written to NAME in the working directory when the blocks
                        before it have run, so that a later ```sh block can compile or run it
  ```shell              shell commands shown, never run: they need hardware, root, Wine, a
                        network beyond loopback or minutes of time
  ```console            a session typed at a prompt, with its output; never run
  anything else         (c, python, yaml, text, ...) shown only

A ```bash or ```zsh fence is refused, so that no example is left out by accident, and so is
a ```sh block whose lines start with a "$ " prompt. A link to a file of the tree that does not
exist, or to a heading its page lacks, fails the page too.

Every ```sh block of one page runs in order in one bash session, so a block may start the
simulator in the background and the next use it: each block under `set -e`, standard input
/dev/null, the working directory a fresh temporary folder holding a copy of the source tree
(without .git, build directories and node_modules) and build/, a link to the build under test,
PATH beginning with that build's qk42rt and qk42rt-sim, HOME a fresh folder, and none of the
project's environment variables (QK42_LIBRARY, PYTHONPATH, LD_PRELOAD, ...) set. When a block
leaves a new job running, the next block waits, as a person would, until the job has said that
it is ready ("slave: ...", "tcp: ...", "listening: ...", mosquitto's "... running") and gone quiet (at most 15 s). Run as
root, each page's session has a network namespace of its own with only loopback, so its servers
meet no other program's on the same ports. At the end of the page every job still running is
stopped (SIGTERM, then SIGKILL for the process group), and each page has a time limit. A
failure names the page, the block and its line, and shows the block and what the session
printed while it ran.

Exit status: 0 when every block of every page ran, 1 when any failed, 2 on a usage error.
"""

from __future__ import annotations

import argparse
import ctypes
import fcntl
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional

# What a job prints once it serves: the simulator, the client's servers, and mosquitto.
READY = re.compile(rb"^(?:(?:slave|tcp|listening): |[0-9]+: mosquitto version \S+ running)",
                   re.MULTILINE)
READY_WAIT_S = 15.0
QUIET_S = 0.3
REFUSED_FENCES = {"bash", "zsh", "sh-session", "shell-session"}
# Set by a user's own shell, a developer's or CTest's, and not by the examples' reader.
CLEARED_ENVIRONMENT = ("QK42_LIBRARY", "QK42RT_SIM", "QK42RT_PORT_MAP", "PYTHONPATH",
                       "PYTHONHOME", "LD_PRELOAD", "LD_LIBRARY_PATH", "PKG_CONFIG_PATH",
                       "VIRTUAL_ENV", "MAKEFLAGS", "DISPLAY")


@dataclass
class Block:
    page: str
    number: int  # 1-based among the page's fenced blocks of every kind
    line: int  # the line of the opening fence
    info: str
    text: str

    @property
    def language(self) -> str:
        return self.info.split()[0] if self.info.split() else ""

    @property
    def file(self) -> Optional[str]:
        for word in self.info.split()[1:]:
            if word.startswith("file="):
                return word[len("file="):]
        return None

    def where(self) -> str:
        return f"{self.page} block {self.number} (```{self.info} at line {self.line})"


class PageError(Exception):
    pass


FENCE = re.compile(r"^( {0,3})(`{3,}|~{3,})(.*)$")


def fenced_blocks(page: str, text: str) -> List[Block]:
    """The fenced code blocks of a Markdown page, indented ones (in lists) included."""
    blocks: List[Block] = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        stripped = lines[i].lstrip(" ")
        indent = len(lines[i]) - len(stripped)
        match = FENCE.match(stripped) if stripped.startswith(("```", "~~~")) else None
        if not match:
            i += 1
            continue
        fence, info = match.group(2), match.group(3).strip()
        start = i
        body: List[str] = []
        i += 1
        while i < len(lines):
            candidate = lines[i].lstrip(" ")
            if candidate.startswith(fence[0] * len(fence)) and candidate.strip() == \
                    fence[0] * len(candidate.strip()):
                break
            line = lines[i]
            # Remove at most the opening fence's indentation, as Markdown does.
            removable = min(indent, len(line) - len(line.lstrip(" ")))
            body.append(line[removable:])
            i += 1
        else:
            raise PageError(f"{page}: the fence opened at line {start + 1} is never closed")
        blocks.append(Block(page, len(blocks) + 1, start + 1, info, "\n".join(body) + "\n"))
        i += 1
    return blocks


def check_blocks(blocks: List[Block]) -> None:
    for block in blocks:
        if block.language in REFUSED_FENCES:
            raise PageError(f"{block.where()}: fence shell examples as ```sh (run by this test), "
                            "```shell (shown, not run) or ```console (a typed session)")
        if block.language == "sh":
            if block.info != "sh":
                raise PageError(f"{block.where()}: a ```sh fence takes nothing after it")
            for n, line in enumerate(block.text.splitlines()):
                if line.startswith("$ "):
                    raise PageError(f"{block.where()}, its line {n + 1}: a ```sh block holds "
                                    "commands only; a session with a prompt and output is "
                                    "```console")
            syntax = subprocess.run(["bash", "-n"], input=block.text.encode(),
                                    capture_output=True)
            if syntax.returncode != 0:
                raise PageError(f"{block.where()}: bash cannot parse it: "
                                f"{syntax.stderr.decode(errors='replace').strip()}")
        name = block.file
        if name is not None and (not name or "/" in name or name.startswith(".")):
            raise PageError(f"{block.where()}: file={name!r} must be a plain file name")


LINK = re.compile(r"\]\(([^)\s]+)\)")


def heading_anchors(text: str) -> set:
    """The anchors GitHub gives a page's headings: lower case, punctuation dropped, spaces
    to hyphens."""
    anchors = set()
    for line in prose_lines(text):
        match = re.match(r"^#{1,6} +(.*?) *#* *$", line)
        if match:
            title = re.sub(r"[^\w\- ]", "", match.group(1).lower())
            anchors.add(title.replace(" ", "-"))
    return anchors


def prose_lines(text: str) -> List[str]:
    """The lines of a page outside its fenced blocks."""
    lines, fence = [], ""
    for line in text.split("\n"):
        stripped = line.lstrip(" ")
        if fence:
            if stripped.startswith(fence) and stripped.strip() == fence[0] * len(stripped.strip()):
                fence = ""
            continue
        match = FENCE.match(stripped) if stripped.startswith(("```", "~~~")) else None
        if match:
            fence = match.group(2)
            continue
        lines.append(line)
    return lines


def check_links(source: Path, page: str, text: str) -> None:
    """Every link to a file of the tree names one that exists, and its #anchor a heading."""
    for number, line in enumerate(prose_lines(text)):
        for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
            if re.match(r"^[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            file = (source / page).parent / path if path else source / page
            if not file.exists():
                raise PageError(f"{page}: a link to {target}, which does not exist")
            if anchor and file.suffix == ".md" and \
                    anchor not in heading_anchors(file.read_text(encoding="utf-8")):
                raise PageError(f"{page}: a link to {target}, a heading {path or page} lacks")


def lay_out_root(source: Path, build: Path, root: Path) -> None:
    """The working directory: a copy of the source tree (a few megabytes: no .git, no build
    directories, no node_modules), so that what an example writes or builds there stays
    there, and build/ a link to the build under test."""
    skip = shutil.ignore_patterns("node_modules", "__pycache__", ".pytest_cache", ".venv")
    root.mkdir()
    for entry in sorted(source.iterdir()):
        if entry.name == ".git" or entry.name.startswith("build"):
            continue
        if entry.is_dir() and not entry.is_symlink():
            shutil.copytree(entry, root / entry.name, symlinks=True, ignore=skip)
        else:
            shutil.copy2(entry, root / entry.name, follow_symlinks=False)
    (root / "build").symlink_to(build)


def page_environment(build: Path, home: Path) -> dict:
    env = {k: v for k, v in os.environ.items() if k not in CLEARED_ENVIRONMENT}
    tools = [str(build / "tools" / "cli"), str(build / "tools" / "sim")]
    env["PATH"] = os.pathsep.join(tools + [env.get("PATH", "/usr/bin:/bin")])
    env["HOME"] = str(home)
    env["LANG"] = "C.UTF-8"
    env.pop("LC_ALL", None)
    env["TERM"] = "dumb"
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


CLONE_NEWNET = 0x40000000
SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1


def enter_private_network() -> None:
    """Moves the calling process into a network namespace of its own with loopback up, so
    that a page's servers (port 8042, 4001, ...) meet nothing else on the machine and
    nothing else meets them. Raises OSError where that is not allowed (not root)."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        raise OSError(ctypes.get_errno(), "unshare(CLONE_NEWNET)")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(s, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14x", b"lo", flags | IFF_UP))


def private_network_works() -> bool:
    """Whether a child can have its own network namespace with a working loopback."""
    probe = ("import socket, sys; sys.path.insert(0, sys.argv[1]); import run_examples as r; "
             "r.enter_private_network(); s = socket.create_server(('127.0.0.1', 0)); "
             "socket.create_connection(s.getsockname(), timeout=2).close()")
    try:
        return subprocess.run([sys.executable, "-c", probe, str(Path(__file__).parent)],
                              capture_output=True, timeout=20).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def group_alive(pgid: int) -> bool:
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def stop_group(pgid: int) -> bool:
    """Stops whatever of the page's session is left; True when something was."""
    if not group_alive(pgid):
        return False
    os.killpg(pgid, signal.SIGTERM)
    deadline = time.monotonic() + 3
    while group_alive(pgid) and time.monotonic() < deadline:
        time.sleep(0.05)
    if group_alive(pgid):
        os.killpg(pgid, signal.SIGKILL)
        deadline = time.monotonic() + 3
        while group_alive(pgid) and time.monotonic() < deadline:
            time.sleep(0.05)
    return True


class Session:
    """One bash process for one page, fed a block at a time on a pipe of its own."""

    def __init__(self, root: Path, env: dict, log: Path, status: Path,
                 private_network: bool) -> None:
        self.log_path = log
        self.status_path = status
        self.left_running = False
        read_end, self.write_end = os.pipe()
        self.log = open(log, "wb")
        prologue = (
            "__qk42_status=" + sh_quote(str(status)) + "\n"
            "__qk42_end() { __qk42_rc=$?; set +e; trap - EXIT\n"
            "  __qk42_jobs=$(jobs -p); [ -z \"$__qk42_jobs\" ] || kill $__qk42_jobs 2>/dev/null\n"
            "  wait 2>/dev/null; printf 'exit %s\\n' \"$__qk42_rc\" >>\"$__qk42_status\"; }\n"
            "trap __qk42_end EXIT\n"
        )
        self.process = subprocess.Popen(
            ["bash", "--noprofile", "--norc", f"/dev/fd/{read_end}"], cwd=root, env=env,
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            pass_fds=(read_end,), start_new_session=True,
            preexec_fn=enter_private_network if private_network else None)
        os.close(read_end)
        self.send(prologue)

    def send(self, text: str) -> None:
        try:
            os.write(self.write_end, text.encode())
        except BrokenPipeError:
            pass

    def status_lines(self) -> List[str]:
        try:
            return self.status_path.read_text().splitlines()
        except FileNotFoundError:
            return []

    def output_size(self) -> int:
        self.log.flush()
        return self.log_path.stat().st_size

    def output_since(self, offset: int) -> bytes:
        with open(self.log_path, "rb") as f:
            f.seek(offset)
            return f.read()

    def finish(self, deadline: float) -> Optional[int]:
        """Ends the session: EOF on its script, its jobs stopped. Its exit status, or None
        when it had to be killed."""
        if self.write_end >= 0:
            os.close(self.write_end)
            self.write_end = -1
        try:
            rc: Optional[int] = self.process.wait(timeout=max(1.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            rc = None
        self.left_running = stop_group(self.process.pid)
        if rc is None:
            self.process.wait()
        self.log.close()
        return rc


def sh_quote(text: str) -> str:
    return "'" + text.replace("'", "'\\''") + "'"


def run_page(source: Path, build: Path, page: str, timeout: float, scratch: Path,
             verbose: bool = False, private_network: bool = False) -> bool:
    path = source / page
    text = path.read_text(encoding="utf-8")
    blocks = fenced_blocks(page, text)
    check_blocks(blocks)
    check_links(source, page, text)
    runnable = [b for b in blocks if b.language == "sh" or b.file is not None]
    shown = sum(1 for b in blocks if b.language in ("shell", "console"))
    runs = sum(1 for b in runnable if b.language == "sh")
    if runs == 0:
        print(f"{page}: no ```sh blocks ({shown} shell/console blocks shown only)")
        return True

    work = Path(tempfile.mkdtemp(prefix="page-", dir=scratch))
    root, home = work / "root", work / "home"
    lay_out_root(source, build, root)
    home.mkdir()
    session = Session(root, page_environment(build, home), work / "output.log",
                      work / "status", private_network)
    deadline = time.monotonic() + timeout
    failure: Optional[str] = None
    failed_block: Optional[Block] = None
    block_output_start = 0
    jobs_running = 0
    ran = 0
    for block in runnable:
        failed_block = block
        block_output_start = session.output_size()
        if block.language != "sh":
            marker = "QK42_DOCS_EOF"
            while marker in block.text:
                marker += "_"
            session.send(f"cat >{sh_quote(block.file or '')} <<'{marker}'\n{block.text}{marker}\n"
                         f"printf 'done {block.number} %s\\n' \"$(jobs -rp | wc -l)\" "
                         ">>\"$__qk42_status\"\n")
        else:
            session.send(f"set -e\n{block.text}set +e\n"
                         f"printf 'done {block.number} %s\\n' \"$(jobs -rp | wc -l)\" "
                         ">>\"$__qk42_status\"\n")
        done: Optional[str] = None
        while done is None:
            lines = session.status_lines()
            for line in lines:
                if line.startswith(f"done {block.number} "):
                    done = line
            if done is not None:
                break
            exits = [line for line in lines if line.startswith("exit ")]
            if exits or session.process.poll() is not None:
                rc = exits[-1].split()[1] if exits else str(session.process.returncode)
                failure = f"exit status {rc}"
                break
            if time.monotonic() > deadline:
                failure = f"still running after the page's time limit of {timeout:.0f} s"
                break
            time.sleep(0.02)
        if failure:
            break
        ran += 1
        now_running = int(done.split()[2])
        if block.language == "sh" and now_running > jobs_running:
            wait_until_ready(session, block_output_start, now_running - jobs_running, deadline)
        jobs_running = now_running
    else:
        failed_block = None

    rc = session.finish(deadline if failure is None else time.monotonic() + 5)
    if failure is None and rc is None:
        failure = "the session did not end when its jobs were stopped"
        failed_block = None
    if session.left_running:
        print(f"{page}: processes of the session outlived it; stopped now")
    if verbose:
        print(f"--- {page}: what the session printed")
        print(session.output_since(0).decode(errors="replace"), end="")
    if failure is None:
        print(f"{page}: {runs} sh block(s) ran, {len(runnable) - runs} file(s) written, "
              f"{shown} shell/console block(s) shown only")
        shutil.rmtree(work, ignore_errors=True)
        return True

    where = failed_block.where() if failed_block else page
    print(f"FAIL {where}: {failure}")
    if failed_block is not None:
        print("--- the block:")
        sys.stdout.write(failed_block.text)
    output = session.output_since(block_output_start).decode(errors="replace")
    tail = output.splitlines()[-80:]
    print(f"--- what the session printed while it ran ({len(tail)} last lines):")
    print("\n".join(tail))
    print(f"--- {ran} block(s) of {page} ran before it; working directory kept: {work}")
    return False


def wait_until_ready(session: Session, offset: int, new_jobs: int, deadline: float) -> None:
    """After a block left `new_jobs` jobs running: until as many ready lines have come since
    the block began and the output has been quiet for QUIET_S, at most READY_WAIT_S."""
    give_up = min(deadline, time.monotonic() + READY_WAIT_S)
    size, quiet_since = session.output_size(), time.monotonic()
    while time.monotonic() < give_up:
        time.sleep(0.05)
        now = session.output_size()
        if now != size:
            size, quiet_since = now, time.monotonic()
            continue
        ready = len(READY.findall(session.output_since(offset)))
        if ready >= new_jobs and time.monotonic() - quiet_since >= QUIET_S:
            return


def all_pages(source: Path) -> List[str]:
    pages = ["README.md"] if (source / "README.md").exists() else []
    docs = source / "docs"
    if docs.is_dir():
        pages += sorted(f"docs/{p.name}" for p in docs.glob("*.md"))
    return pages


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, type=Path, help="the source tree")
    parser.add_argument("--build", required=True, type=Path, help="the build under test")
    parser.add_argument("--timeout", type=float, default=180.0, help="seconds per page")
    parser.add_argument("--list", action="store_true", help="list the blocks, run nothing")
    parser.add_argument("--verbose", action="store_true",
                        help="print everything each page's session printed")
    parser.add_argument("pages", nargs="*")
    args = parser.parse_args()
    source, build = args.source.resolve(), args.build.resolve()
    for tool in ("tools/cli/qk42rt", "tools/sim/qk42rt-sim"):
        if not os.access(build / tool, os.X_OK):
            print(f"run_examples: {build / tool} is not built", file=sys.stderr)
            return 2
    pages = args.pages or all_pages(source)

    if args.list:
        for page in pages:
            for block in fenced_blocks(page, (source / page).read_text(encoding="utf-8")):
                kind = ("run" if block.language == "sh" else
                        "file" if block.file else
                        "shown" if block.language in ("shell", "console") else "")
                if kind:
                    print(f"{kind:5} {block.where()}")
        return 0

    private_network = private_network_works()
    print("each page in a network namespace of its own" if private_network else
          "pages share this machine's network (a private namespace needs root)")
    failed = []
    scratch = Path(tempfile.mkdtemp(prefix="qk42rt-docs-"))
    try:
        for page in pages:
            if not (source / page).is_file():
                print(f"run_examples: no page {page}", file=sys.stderr)
                return 2
            try:
                ok = run_page(source, build, page, args.timeout, scratch, args.verbose,
                              private_network)
            except PageError as error:
                print(f"FAIL {error}")
                ok = False
            if not ok:
                failed.append(page)
    finally:
        if not failed:
            shutil.rmtree(scratch, ignore_errors=True)
    print(f"docs examples: {len(pages) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
