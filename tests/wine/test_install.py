#!/usr/bin/env python3
"""Installing on the real registry: the values and their sizes, the boxes, installing again, and a
picture of the install question."""
import sys

from cliptools.wine import (BUILD_64_EXE, DECISION, DRAWN_EXE, INSTALL_DONE, INSTALL_QUESTION, MENU_KEY, MENU_PARENT,
                            REGISTRY_ERROR, REG_DWORD, UNINSTALL_DONE, UNINSTALL_KEY, UNINSTALL_KEY_OF_THE_OTHER_VIEW,
                            UNINSTALL_QUESTION, Key, gbk, place_exe, ppm_to_png, prefix_file, read_keys, registry,
                            run_clipindex)
from winetest import (SCREENSHOTS, install_from, installed_keys, main, remove_installation, text_value,
                      write_installation)

PROGRAM_FILES = "C:\\Program Files\\Clip Index"


def answered_yes(checks):
    remove_installation()
    registry(("delete-tree", MENU_PARENT))  # the install has to make the missing parent as well
    run = install_from(PROGRAM_FILES, ["yes", "ok"])
    checks.run(run, [INSTALL_QUESTION, INSTALL_DONE], "install answered Yes")

    menu_parent, menu, uninstall, other = read_keys(MENU_PARENT, MENU_KEY, UNINSTALL_KEY,
                                                    UNINSTALL_KEY_OF_THE_OTHER_VIEW)
    want_menu, want_uninstall = installed_keys("res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex",
                                               '"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall')
    checks.key(menu, want_menu, "menu entry key")
    checks.key(uninstall, want_uninstall, "uninstall entry key")
    checks.key(other, None, f"uninstall entry key in the other registry view, {UNINSTALL_KEY_OF_THE_OTHER_VIEW[1]}")
    checks.key(menu_parent, Key(subkeys=[gbk("列出所有 Flash")]), "MenuExt, made by the install")
    if menu and uninstall:
        # sizes count the terminating NUL: 57 bytes of address + 1, 31 bytes of display name + 1
        checks.equal(menu.values.get(b"", (0, 0))[1], 58, "stored size of the page address")
        checks.equal(uninstall.values.get(b"DisplayName", (0, 0))[1], 32, "stored size of DisplayName")


def again_keeps_other_values(checks):
    """Each install rewrites the three values with its own path; values it does not write stay."""
    menu_extras = {b"Contexts": (REG_DWORD, 4, b"\x02\0\0\0"), gbk("备注"): text_value("留下")}
    uninstall_extras = {b"DisplayIcon": text_value("C:\\Old\\clipindex.exe,0"),
                        b"NoModify": (REG_DWORD, 4, b"\1\0\0\0")}
    write_installation("res://C:\\Old\\clipindex.exe/clipindex", "C:\\Old\\clipindex.exe /Uninstall")
    registry(*[("set", MENU_KEY, name.decode("gbk"), kind, data) for name, (kind, _, data) in menu_extras.items()],
             *[("set", UNINSTALL_KEY, name.decode("gbk"), kind, data)
               for name, (kind, _, data) in uninstall_extras.items()])

    installs = [
        # folder, page address, uninstall command
        (PROGRAM_FILES, "res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex",
         '"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall'),
        # '%' and '#' are escaped in the address only; no blank, so the command is not quoted
        ("C:\\Tools\\50%#off", "res://C:\\Tools\\50%25%23off\\clipindex.exe/clipindex",
         "C:\\Tools\\50%#off\\clipindex.exe /Uninstall"),
    ]
    for folder, url, command in installs:
        run = install_from(folder, ["yes", "ok"])
        checks.run(run, [INSTALL_QUESTION, INSTALL_DONE], f"install from {folder}")
        menu, uninstall = read_keys(MENU_KEY, UNINSTALL_KEY)
        want_menu, want_uninstall = installed_keys(url, command)
        want_menu.values.update(menu_extras)
        want_uninstall.values.update(uninstall_extras)
        checks.key(menu, want_menu, f"menu entry key after the install from {folder}")
        checks.key(uninstall, want_uninstall, f"uninstall entry key after the install from {folder}")
    remove_installation()


def icons_of_the_64_bit_build(checks):
    """The boxes' icons, on the 64-bit build: every Wine draws them there, and Wine 8 none in a 32-bit
    program's box."""
    remove_installation()
    registry(("delete-tree", UNINSTALL_KEY_OF_THE_OTHER_VIEW))
    exe = gbk(place_exe("C:\\Tools\\64-bit", BUILD_64_EXE))
    for command_line, boxes in ((b"clipindex.exe", [INSTALL_QUESTION, INSTALL_DONE]),
                                (b"clipindex.exe /Uninstall", [UNINSTALL_QUESTION, UNINSTALL_DONE]),
                                (b"clipindex.exe /Uninstall", [UNINSTALL_QUESTION, REGISTRY_ERROR])):
        run = run_clipindex(command_line, ["yes", "ok"], application=exe)
        checks.run(run, boxes, f"the 64-bit build started as {command_line.decode()}", exe=BUILD_64_EXE)


def question_screenshot(checks):
    """The install question as the screen shows it, kept under the build folder as a PNG; of the build whose
    windows this Wine draws."""
    if DRAWN_EXE == BUILD_64_EXE:
        print(DECISION.drawing().why)
    exe = place_exe(PROGRAM_FILES, DRAWN_EXE)
    picture = "C:\\clipindex-tests\\install-question.ppm"
    prefix_file(picture).parent.mkdir(parents=True, exist_ok=True)
    prefix_file(picture).unlink(missing_ok=True)
    run = run_clipindex(b"clipindex.exe", ["no"], application=gbk(exe), picture=picture)
    checks.run(run, [INSTALL_QUESTION], "install question", exe=DRAWN_EXE)
    checks.true(prefix_file(picture).exists(), f"no picture was saved; report:\n{run.report}")
    if not prefix_file(picture).exists():
        return
    png = SCREENSHOTS / "install-question.png"
    width, height = ppm_to_png(prefix_file(picture), png)
    print(f"saved {png} ({width} x {height})")
    checks.true(150 <= width <= 1024 and 60 <= height <= 768, f"a picture of {width} x {height} is no message box")
    # a line of about twenty glyphs draws on a thousand pixels or more; an undrawn text on none
    checks.true(run.text_pixels > 300, f"the question's text drew on only {run.text_pixels} pixels of the picture")


if __name__ == "__main__":
    sys.exit(main({"answered_yes": answered_yes, "again_keeps_other_values": again_keeps_other_values,
                   "icons_of_the_64_bit_build": icons_of_the_64_bit_build, "question_screenshot": question_screenshot}))
