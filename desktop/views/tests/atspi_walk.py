#!/usr/bin/env python3
"""Walks the running OstrakDesktop through AT-SPI, as a screen reader meets it, by Tab alone.

For each page (one row of PAGES), from the sidebar: every Tab stop until Tab comes back to the
sidebar must be showing, focusable, named and in a role a reader knows, and the stops must be
the expected ones in order; the sidebar's item of the page reports SELECTED. Creating the
workstation by Enter on the welcome page must change the notice line (a NOTIFICATION) with an
accessible-name event. Prints what failed and exits 1, else 0.
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

PAGES = [
    # sidebar row, Tab stops after the sidebar
    (0, ["工作站名称", "选择位置…", "建立本机工作站", "打开已有工作站…"]),  # welcome
    (0, ["打开数据目录", "打开知识库", "工作站名称", "保存"]),
    (1, ["标题", "笔记内容", "在文件管理器打开知识库", "搜索原稿内容"]),
    (2, ["服务商", "模型标识", "API Key", "移除密钥", "发送测试请求"]),
    (3, ["启用后台", "后台项目目录…"]),
    (4, []),
    (5, ["导出脱敏诊断…", "打开已有工作站…"]),
]
KNOWN_ROLES = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
               pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LIST}
failures = []


focus = {"now": None, "count": 0}
announced = []


def pump(seconds):
    """Lets the events that arrived be handled (focus changes, name changes)."""
    deadline = time.time() + seconds
    context = GLib.MainContext.default()
    while time.time() < deadline:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def key(name, moves_focus=True):
    """Presses a key; waits for the focus to move (a slow machine may take a while), else a
    moment for what it does."""
    before = focus["count"]
    subprocess.run(["xdotool", "key", name], check=True)
    deadline = time.time() + (5 if moves_focus else 0.5)
    while time.time() < deadline and not (moves_focus and focus["count"] > before):
        pump(0.05)
    pump(0.1)


def on_focus(event):
    if event.detail1:
        focus["now"] = event.source
        focus["count"] += 1


def on_name(event):
    try:
        if event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
            announced.append(event.source.name)
    except GLib.GError:
        pass  # an object already gone


def application():
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            child = desktop.getChildAtIndex(index)
            if child is not None and child.name == "plovik":
                return child
        time.sleep(0.2)
    sys.exit("the app (plovik) is not on the accessibility bus")


def descendants(node):
    yield node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from descendants(child)


def focused(app):
    """The object that got focus last, as a reader learns it: by the focus event."""
    return focus["now"]


def heard_name(node):
    """What a reader says: the labelling object's name, else the object's own."""
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets():
            return relation.getTarget(0).name
    return node.name


def in_sidebar(node):
    """The sidebar list, or one of its items (which reports focus while the list has it)."""
    try:
        if node.getRole() == pyatspi.ROLE_LIST_ITEM:
            node = node.parent
        return node.getRole() == pyatspi.ROLE_LIST and node.name == "页面"
    except GLib.GError:
        return False


def sidebar(app):
    for node in descendants(app):
        if node.getRole() == pyatspi.ROLE_LIST and node.name == "页面":
            return node
    sys.exit("no sidebar list named 页面")


def focus_sidebar(app, bar):
    for _ in range(40):
        if focused(app) is not None and in_sidebar(focused(app)):
            return
        key("Tab")
    failures.append("Tab never reaches the sidebar")


def tab_stops(app, bar):
    heard = []
    for _ in range(40):
        key("Tab")
        stop = focused(app)
        if stop is None or in_sidebar(stop):
            return heard
        state = stop.getState()
        name = heard_name(stop)
        usable = (stop.getRole() in KNOWN_ROLES and name and state.contains(pyatspi.STATE_SHOWING)
                  and state.contains(pyatspi.STATE_FOCUSABLE))
        heard.append(name if usable else f"unusable stop {name!r} ({stop.getRoleName()})")
    heard.append("Tab never returns to the sidebar")
    return heard


def main():
    app = application()
    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
    bar = sidebar(app)
    row_now = 0
    for page, (row, expected) in enumerate(PAGES):
        focus_sidebar(app, bar)
        for _ in range(abs(row - row_now)):
            key("Down" if row > row_now else "Up")
        row_now = row
        stops = tab_stops(app, bar)
        if stops != expected:
            failures.append(f"page {page}: stops {stops}, expected {expected}")
        if page > 0 and not bar.getChildAtIndex(row).getState().contains(pyatspi.STATE_SELECTED):
            failures.append(f"page {page}: the sidebar does not report row {row} selected")
        if page == 0:
            # Enter in the first field creates the workstation; the notice says so.
            key("Tab")
            key("Return", moves_focus=False)
            deadline = time.time() + 10
            while not announced and time.time() < deadline:
                pump(0.1)
            if not any("本机数据目录已部署" in text for text in announced):
                failures.append(f"no announcement of the new notice (heard {announced})")
    for failure in failures:
        print(failure)
    if not failures:
        stops = sum(len(expected) for _, expected in PAGES)
        print(f"AT-SPI walk: {len(PAGES)} pages, {stops} Tab stops, the notice announced")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
