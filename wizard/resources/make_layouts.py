#!/usr/bin/env python3
"""Writes the pages' Qt Designer layouts (page_*.ui) beside this script from the dialog
templates below. Positions and sizes are in dialog units and become pixels with one fixed
conversion, x * 7 / 4 and y * 13 / 8, which fits the wizard's font (DejaVu Sans at 11 pixels:
an average character width of about 7 pixels and a line of 13). The .ui files are committed;
run this again after changing a template: python3 make_layouts.py
"""

import os
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))

# A drop-down list's template height covers its open list; the closed box is this tall.
COMBO_HEIGHT_DU = 14


def px(x, y, w, h):
    return (round(x * 7 / 4), round(y * 13 / 8), round(w * 7 / 4), round(h * 13 / 8))


def geometry(rect):
    x, y, w, h = px(*rect)
    return (f'<property name="geometry"><rect><x>{x}</x><y>{y}</y>'
            f'<width>{w}</width><height>{h}</height></rect></property>')


def prop(name, kind, value):
    return f'<property name="{name}"><{kind}>{value}</{kind}></property>'


def text(value):
    return prop("text", "string", escape(value))


def widget(cls, name, rect, *props):
    return f'  <widget class="{cls}" name="{name}">{geometry(rect)}{"".join(props)}</widget>\n'


def picture(name, bitmap, rect):
    return widget("QLabel", name, rect, f'<property name="pixmap"><pixmap resource="upgrade.qrc">'
                  f':/pictures/bitmap{bitmap}.png</pixmap></property>',
                  prop("scaledContents", "bool", "true"))


def label(name, value, rect, *props):
    return widget("QLabel", name, rect, text(value), *props)


def combo(name, x, y, w, items=()):
    entries = "".join(f'<item>{text(i)}</item>' for i in items)
    body = widget("QComboBox", name, (x, y, w, COMBO_HEIGHT_DU))
    return body.replace("</widget>", entries + "</widget>")


def log_edit(name, rect, wrap, scroll_bars=False, tab_stop=False):
    """A read-only multi-line edit. wrap=False: lines scroll sideways instead of wrapping
    (automatic horizontal scrolling); scroll_bars: both bars always shown; without tab_stop the
    edit takes the focus only when clicked."""
    props = [prop("readOnly", "bool", "true"), prop("tabChangesFocus", "bool", "true")]
    if not tab_stop:
        props.append(prop("focusPolicy", "enum", "Qt::ClickFocus"))
    if not wrap:
        props.append(prop("lineWrapMode", "enum", "QPlainTextEdit::NoWrap"))
    bars = "Qt::ScrollBarAlwaysOn" if scroll_bars else "Qt::ScrollBarAlwaysOff"
    props.append(prop("verticalScrollBarPolicy", "enum", bars))
    props.append(prop("horizontalScrollBarPolicy", "enum", bars))
    return widget("QPlainTextEdit", name, rect, *props)


def list_view(name, rect):
    return widget("QTreeWidget", name, rect,
                  prop("rootIsDecorated", "bool", "false"),
                  prop("headerHidden", "bool", "true"),
                  prop("columnCount", "number", "2"),
                  prop("selectionMode", "enum", "QAbstractItemView::SingleSelection"),
                  prop("contextMenuPolicy", "enum", "Qt::CustomContextMenu"),
                  prop("iconSize", "size", "<width>16</width><height>16</height>"))


def ui_file(file_name, class_name, comment, width_du, height_du, children):
    _, _, w, h = px(0, 0, width_du, height_du)
    body = (f'<?xml version="1.0" encoding="UTF-8"?>\n<!-- {comment} -->\n'
            f'<ui version="4.0">\n <class>{class_name}</class>\n'
            f' <widget class="QWidget" name="{class_name}">\n'
            f'  <property name="geometry"><rect><x>0</x><y>0</y><width>{w}</width>'
            f'<height>{h}</height></rect></property>\n'
            + "".join(children) + ' </widget>\n <resources><include location="upgrade.qrc"/>'
            '</resources>\n <connections/>\n</ui>\n')
    with open(os.path.join(HERE, file_name), "w") as f:
        f.write(body)


BAUDS = ["110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
         "56000", "57600", "115200"]
PARITIES = ["None", "Even", "Odd", "Mark", "Space"]


def connect_page():
    ui_file("page_connect.ui", "PageConnect", "Connect page, dialog template 107", 340, 193, [
        picture("picture", 131, (0, 0, 125, 193)),
        widget("QGroupBox", "groupComSetting", (128, 3, 198, 64), prop("title", "string", "Com Setting")),
        label("labelPort", "Port", (135, 24, 17, 12)),
        combo("comboPort", 160, 22, 49),
        label("labelBaud", "Bits Rate", (223, 24, 41, 12)),
        combo("comboBaud", 268, 22, 49, BAUDS),
        label("labelParity", "Parity", (135, 43, 24, 12)),
        combo("comboParity", 160, 43, 49, PARITIES),
        # Which device the chosen COM number stands for on this machine.
        label("labelDevice", "", (135, 55, 185, 9)),
        label("labelOperation", "Operate Mode:", (128, 102, 53, 8)),
        combo("comboOperation", 189, 102, 136, ["Upgrade", "Data dump"]),
        label("status", "", (128, 123, 196, 8)),
        log_edit("log", (128, 138, 196, 55), wrap=False),
    ])


def select_page(file_name, class_name, comment, list_rect, with_message):
    children = [
        picture("picture", 129, (0, 0, 92, 193)),
        label("labelOperate", "Operate: Upgrade", (128, 7, 201, 8)),
        list_view("list", list_rect),
    ]
    if with_message:
        children.append(log_edit("message", (126, 99, 203, 56), wrap=True))
    ui_file(file_name, class_name, comment, 340, 193, children)


def process_page(file_name, class_name, comment, log_rect):
    ui_file(file_name, class_name, comment, 340, 193, [
        picture("picture", 130, (0, 0, 92, 193)),
        label("status", "Downloading..", (125, 10, 202, 8)),
        widget("QProgressBar", "progress", (125, 24, 163, 14),
               prop("minimum", "number", "0"), prop("maximum", "number", "100"),
               prop("value", "number", "0"), prop("textVisible", "bool", "false")),
        label("percent", "0%", (297, 29, 25, 8)),
        log_edit("log", log_rect, wrap=False, scroll_bars=True, tab_stop=True),
    ])


if __name__ == "__main__":
    connect_page()
    select_page("page_select.ui", "PageSelect", "Select page, dialog template 108", (126, 21, 203, 66), True)
    select_page("page_select_200.ui", "PageSelect200", "Select page of edition 2.0.0, dialog template 108",
                (128, 21, 201, 168), False)
    process_page("page_process.ui", "PageProcess", "Process page, dialog template 109", (126, 52, 198, 138))
    process_page("page_process_200.ui", "PageProcess200", "Process page of edition 2.0.0, dialog template 109",
                 (126, 46, 198, 144))
