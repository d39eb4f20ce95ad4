"""A plain interpreted version of one pass of the configurator's main loop.

It is the yardstick for the native modules: the same behaviour written
straightforwardly in Python (one function per step, no tricks), run in the same
process on the same inputs. It lives only here and is never imported by the
package; the target model's tests use it as their reference. ``bench/run.py`` also checks that it produces exactly the native frame,
which keeps the comparison honest.
"""

from __future__ import annotations

import re
import shutil

from neuvora import globals_neuvora as GNV

ANSI_ESCAPE_RE = re.compile("\x1b\\[[0-9;]*m")
COLOR_DENDRIFY = "00A5A5"
COLOR_TRACK = "8A95A0"
COLOR_ATTENTION = "FD4D00"
COLOR_ACCENT = "D9A441"
HR = "  " + "\u2500" * 70
MODE_VERB = {"dendrified": "dendrify", "tracked": "track"}
RUNTIME_ONLY_CONFIG_KEYS = {"config_file"}
SWITCH_MODE_NAMES = ["DOING_SWITCH_EVERY_TIME", "DOING_HISTORY", "DOING_FIXED_SWITCH", "DOING_NO_SWITCH"]
FORWARD_FUNCTION_NAMES = ["relu", "tanh", "sigmoid"]


# -- styling ------------------------------------------------------------------
def color_text(text, hex_color):
    r, g, b = int(hex_color[0:2], 16), int(hex_color[2:4], 16), int(hex_color[4:6], 16)
    return f"\x1b[38;2;{r};{g};{b}m{text}\x1b[0m"


def dim(text):
    return f"\x1b[90m{text}\x1b[0m"


def strip_ansi(text):
    return ANSI_ESCAPE_RE.sub("", text)


def get_color_hex_for_mode(mode):
    if mode == "dendrified":
        return COLOR_DENDRIFY
    if mode == "tracked":
        return COLOR_TRACK
    return "000000"


# -- target model ---------------------------------------------------------------
def get_module_entries(model):
    entries = []
    for path, module in model.named_modules(remove_duplicate=False):
        if path == "":
            continue
        entries.append(
            {
                "id": "." + path,
                "name": path,
                "type_name": type(module).__name__,
                "module": module,
                "depth": path.count("."),
                "direct_param_count": sum(p.numel() for _, p in module.named_parameters(recurse=False)),
                "tree_param_count": sum(p.numel() for _, p in module.named_parameters(recurse=True)),
            }
        )
    replace = tuple(GNV.pc.get_modules_to_replace())
    roots = []
    for entry in entries:
        entry["is_replaced_root"] = bool(replace) and isinstance(entry["module"], replace)
        if entry["is_replaced_root"]:
            roots.append(entry["id"])
    for entry in entries:
        entry["replaced_root"] = None
        entry["in_replaced"] = False
        for root in roots:
            if entry["id"].startswith(root + "."):
                entry["replaced_root"] = root
                entry["in_replaced"] = True
                break
    return entries


def dedupe_list(values):
    seen, out = set(), []
    for value in values:
        if value not in seen:
            seen.add(value)
            out.append(value)
    return out


def get_parent_module_id(module_id):
    parts = module_id.split(".")
    if len(parts) <= 2:
        return None
    return "." + ".".join(parts[1:-1])


def normalize_selection_conflicts():
    pc = GNV.pc
    ids_d = dedupe_list(pc.get_module_ids_to_dendrify())
    ids_t = dedupe_list(pc.get_module_ids_to_track())
    names_d = dedupe_list(pc.get_module_names_to_dendrify())
    names_t = dedupe_list(pc.get_module_names_to_track())
    id_overlap = set(ids_d) & set(ids_t)
    name_overlap = set(names_d) & set(names_t)
    if id_overlap:
        ids_t = [value for value in ids_t if value not in id_overlap]
    if name_overlap:
        names_t = [value for value in names_t if value not in name_overlap]
    pc.set_module_ids_to_dendrify(ids_d)
    pc.set_module_ids_to_track(ids_t)
    pc.set_module_names_to_dendrify(names_d)
    pc.set_module_names_to_track(names_t)


def get_id_mode(module_id):
    if module_id in GNV.pc.get_module_ids_to_dendrify():
        return "dendrified"
    if module_id in GNV.pc.get_module_ids_to_track():
        return "tracked"
    return None


def get_name_mode(type_name):
    if type_name in GNV.pc.get_module_names_to_dendrify():
        return "dendrified"
    if type_name in GNV.pc.get_module_names_to_track():
        return "tracked"
    return None


def resolve_entry_modes(entries):
    by_id = {entry["id"]: entry for entry in entries}
    resolved = {}
    for entry in entries:
        parent_id = get_parent_module_id(entry["id"])
        parent = resolved.get(parent_id) if parent_id in by_id else None
        id_mode = get_id_mode(entry["id"])
        type_mode = get_name_mode(entry["type_name"])
        own = id_mode or type_mode
        source = "id" if id_mode else ("type" if type_mode else None)
        record = {"eff": None, "source": None, "origin_id": entry["id"], "overridden": None}
        if parent is not None and parent["eff"] is not None:
            record["eff"] = parent["eff"]
            record["source"] = "inherited"
            record["origin_id"] = parent["origin_id"]
            if own:
                record["overridden"] = {"mode": own, "source": source}
        elif own:
            record["eff"] = own
            record["source"] = source
        resolved[entry["id"]] = record
    return resolved


def type_rule_entries(entries):
    counts = {}
    for entry in entries:
        if not entry["in_replaced"]:
            counts[entry["type_name"]] = counts.get(entry["type_name"], 0) + 1
    rules = [(name, "dendrified", counts.get(name, 0)) for name in sorted(GNV.pc.get_module_names_to_dendrify())]
    rules += [(name, "tracked", counts.get(name, 0)) for name in sorted(GNV.pc.get_module_names_to_track())]
    return rules


def unset_module_entries(entries, resolved):
    return [
        entry
        for entry in entries
        if not entry["in_replaced"]
        and not entry["is_replaced_root"]
        and entry["direct_param_count"] > 0
        and resolved[entry["id"]]["eff"] is None
    ]


def format_human_count(value):
    if value < 1000:
        return str(value)
    for limit, divisor, unit in ((1000000, 1000.0, "K"), (1000000000, 1000000.0, "M")):
        if value < limit:
            text = f"{value / divisor:.1f}"
            return (text[:-2] if text.endswith(".0") else text) + unit
    text = f"{value / 1000000000.0:.1f}"
    return (text[:-2] if text.endswith(".0") else text) + "B"


def build_budget_line(entries, resolved):
    total = added = 0
    seen_total, seen_added = set(), set()
    for entry in entries:
        for _, param in entry["module"].named_parameters(recurse=False):
            if id(param) not in seen_total:
                seen_total.add(id(param))
                total += param.numel()
        if resolved[entry["id"]]["eff"] == "dendrified":
            for _, param in entry["module"].named_parameters(recurse=False):
                if id(param) not in seen_added:
                    seen_added.add(id(param))
                    added += param.numel()
    share = 100.0 * added / total if total else 0.0
    return (
        "Dendrification budget:  +" + format_human_count(added) + " params per dendrite cycle  \u00b7  model "
        + format_human_count(total) + "  (+" + f"{share:.1f}" + "% / cycle)"
    )


# -- shared tensors -----------------------------------------------------------------
def shared_parameter_holders(entries):
    """Per parameter held by two or more entries, the holders' indices in order
    (parameters in the order first met), and per entry its own distinct
    parameters; None when some entry's module cannot be read."""
    try:
        own = []
        for entry in entries:
            seen, params = set(), []
            for _, param in entry["module"].named_parameters(recurse=False):
                if id(param) not in seen:
                    seen.add(id(param))
                    params.append(param)
            own.append(params)
    except Exception:
        return None
    holders = {}
    for index, params in enumerate(own):
        for param in params:
            holders.setdefault(id(param), []).append(index)
    return [h for h in holders.values() if len(h) > 1], own, holders


def shared_owner(sharing, index):
    """The earlier entry holding every own parameter of entry `index`, or None."""
    if sharing is None or not sharing[0]:
        return None
    _, own, holders = sharing
    params = own[index]
    if params and all(holders[id(p)][0] < index for p in params):
        return holders[id(params[0])][0]
    return None


def conflict_verb(mode):
    return {"dendrified": "dendrify", "tracked": "track"}.get(mode, "none")


def shared_conflicts(entries, resolved, sharing):
    """(row, owner, row verb, owner verb, tensors) per pair of rows holding the
    same tensors with different modes, in tree order; and the tensors in conflict."""
    if sharing is None:
        return [], 0
    pairs, tensors = {}, 0
    for held in sharing[0]:
        modes = [conflict_verb(resolved[entries[i]["id"]]["eff"]) for i in held]
        disagree = [(i, m) for i, m in zip(held[1:], modes[1:]) if i != held[0] and m != modes[0]]
        tensors += bool(disagree)
        for row, mode in disagree:
            key = (row, held[0])
            count = pairs.get(key, (mode, modes[0], 0))[2]
            pairs[key] = (mode, modes[0], count + 1)
    return [(r, o, rm, om, n) for (r, o), (rm, om, n) in sorted(pairs.items())], tensors


def shared_weights_text(entries, row, owner, row_verb, owner_verb, tensors):
    shares = " shares a weight with " if tensors == 1 else " shares " + str(tensors) + " weights with "
    return entries[row]["id"] + shares + entries[owner]["id"] + ": " + row_verb + " vs " + owner_verb


# -- Targets screen ---------------------------------------------------------------
def render_tab_bar(active_screen):
    targets, run = "Targets", "Run settings"
    if active_screen == "targets":
        targets = color_text(targets, COLOR_ACCENT)
    else:
        run = color_text(run, COLOR_ACCENT)
    return "[ " + targets + " \u2502 " + run + " ]            " + dim("[Tab] switch panel    ? help")


def mode_verb(mode):
    return MODE_VERB.get(mode, str(mode))


def make_block(mode):
    return color_text("\u2588\u2588", get_color_hex_for_mode(mode))


def make_target_marker(entry, record):
    if entry["in_replaced"]:
        return "     ", "     "
    if record["eff"] is None:
        if entry["direct_param_count"] > 0:
            return (
                color_text("!", COLOR_ATTENTION) + " " + color_text("\u2588\u2588", COLOR_ATTENTION) + " ",
                "! \u2588\u2588 ",
            )
        return "     ", "     "
    block = make_block(record["eff"])
    if record["source"] == "inherited":
        return "\u21b3 " + block + " ", "\u21b3 \u2588\u2588 "
    if record["source"] == "id":
        return "* " + block + " ", "* \u2588\u2588 "
    return "  " + block + " ", "  \u2588\u2588 "


def render_targets_lines(entries, visible_entries, selected_index, resolved, expanded_replaced):
    sharing = shared_parameter_holders(entries)
    position = {id(entry): index for index, entry in reversed(list(enumerate(entries)))}

    def entry_lines(entry, selected):
        cursor = color_text("> ", "E8EEEC") if selected else "  "
        indent = "  " * entry["depth"]
        module_id, type_name, own = entry["id"], entry["type_name"], entry["direct_param_count"]
        record = resolved[module_id]
        if entry["is_replaced_root"]:
            children = sum(1 for other in entries if other["replaced_root"] == module_id)
            toggle = "[\u2190 collapse]" if expanded_replaced.get(module_id, False) else "[\u2192 expand]"
            return [
                cursor + color_text("\u21af", COLOR_ACCENT) + "   " + indent + module_id + "  "
                + dim("[" + type_name + "]") + "   " + dim("will be restructured for NVX before training"),
                "      " + dim("\u2514 " + str(children) + " modules below \u2014 ids won't exist at train time "
                             "\u00b7 target by type (P/T), not id  ") + color_text(toggle, COLOR_ACCENT),
            ]
        display, plain = make_target_marker(entry, record)
        if entry["in_replaced"]:
            return [cursor + display + " " + indent + dim(module_id + "  [" + type_name + "] (id stale)")]
        if record["eff"] is None:
            tail = color_text("needs a mode", COLOR_ATTENTION) if own > 0 else ""
        else:
            tail = color_text("mode=" + mode_verb(record["eff"]), get_color_hex_for_mode(record["eff"]))
            if record["source"] == "inherited":
                tail += dim("  (via " + record["origin_id"] + ")")
            if record["overridden"] is not None:
                tail += dim("  \u2014 your " + mode_verb(record["overridden"]["mode"]) + " here is ignored")
        params = dim("   params=" + format_human_count(own)) if own > 0 else ""
        owner = shared_owner(sharing, position[id(entry)]) if id(entry) in position else None
        if own > 0 and owner is not None:
            params += dim(" shared with " + entries[owner]["id"])
        lead = cursor + display + " " + indent + module_id + "  " + dim("[" + type_name + "]")
        gap = max(46 - (len(module_id) + len(type_name) + len(indent) + len(plain) + 7), 2)
        return [lead + " " * gap + tail + params]

    need = len(unset_module_entries(entries, resolved))
    rules = type_rule_entries(entries)
    hint = color_text("[y] type rules (" + str(len(rules)) + ")", COLOR_ACCENT)
    if need > 0:
        noun, verb = ("module", "needs") if need == 1 else ("modules", "need")
        status = color_text("  \u26a0 " + str(need) + " " + noun + " still " + verb + " a mode", COLOR_ATTENTION)
    else:
        status = color_text("  \u2713 every parameter is dendrified or tracked", COLOR_DENDRIFY)
    header = [
        render_tab_bar("targets"),
        "",
        dim("  dendrify = add dendrites   \u00b7   track = not dendrified   "),
        "",
        status + " " * max(58 - len(strip_ansi(status)), 2) + hint,
        HR,
    ]
    body, focus = [], (0, 1)
    for index, entry in enumerate(visible_entries):
        rows = entry_lines(entry, index == selected_index)
        if index == selected_index:
            focus = (len(body), len(body) + len(rows))
        body.extend(rows)
    budget = build_budget_line(entries, resolved)
    pairs, tensors = shared_conflicts(entries, resolved, sharing)
    notes = []
    if pairs:
        first = shared_weights_text(entries, *pairs[0])
        noun = " shared tensor in conflict)" if tensors == 1 else " shared tensors in conflict)"
        notes.append(color_text("\u26a0 " + first + " (" + str(tensors) + noun, COLOR_ATTENTION))
    footer = [
        HR,
        dim(budget),
        "",
        *notes,
        dim("p/t dendrify\u00b7track this module   P/T whole type   x clear   h legend   \u2191\u2193/jk move   s start"),
    ]
    return header, body, footer, focus


# -- composition and wrapping -----------------------------------------------------
def get_visual_line_count(lines, columns):
    if columns < 1:
        return len(lines)
    total = 0
    for line in lines:
        width = len(strip_ansi(line))
        total += 1 if width == 0 else (width + columns - 1) // columns
    return total


def compose_scrolling_screen(header_lines, body_lines, footer_lines, window_start, focus=None):
    size = shutil.get_terminal_size(fallback=(120, 40))
    columns = size.columns
    reserved = get_visual_line_count(header_lines, columns) + get_visual_line_count(footer_lines, columns)
    budget = max(1, size.lines - reserved - 5)
    count = len(body_lines)

    def rows_for(line):
        return max(1, get_visual_line_count([line], columns))

    def window_end_from(start):
        used, end = 0, start
        while end < count:
            rows = rows_for(body_lines[end])
            if end > start and used + rows > budget:
                break
            used += rows
            end += 1
        return end

    def window_start_for_end(end):
        used, start = 0, end
        while start > 0:
            rows = rows_for(body_lines[start - 1])
            if used + rows > budget:
                break
            used += rows
            start -= 1
        return start

    if focus is not None and count > 0:
        focus_start = max(0, min(focus[0], count))
        focus_end = max(focus_start + 1, min(focus[1], count))
        if focus_start < window_start:
            window_start = focus_start
        if window_end_from(window_start) < focus_end:
            window_start = window_start_for_end(focus_end)
    window_start = max(0, min(window_start, count))
    window_end = window_end_from(window_start)
    if window_end >= count:
        window_start = min(window_start, window_start_for_end(count))
        window_end = count
    lines = list(header_lines)
    if window_start > 0:
        lines.append(dim("  ^^^^ more above ^^^^"))
    lines.extend(body_lines[window_start:window_end])
    if window_end < count:
        lines.append(dim("  vvvv more below vvvv"))
    lines.extend(footer_lines)
    return "\n".join(lines), window_start


def wrap_ansi_line_on_words(line, columns):
    if columns < 1:
        return [line]
    plain = strip_ansi(line)
    n = len(plain)
    if n <= columns:
        return [line]
    raw_positions, i = [], 0
    while i < len(line):
        if line[i] == "\x1b":
            match = ANSI_ESCAPE_RE.match(line, i)
            if match:
                i = match.end()
                continue
        raw_positions.append(i)
        i += 1
    if not raw_positions:
        return [line]
    rows, start = [], 0
    while start < n:
        while start < n and plain[start] == " ":
            start += 1
        if start >= n:
            break
        limit = min(start + columns, n)
        if limit == n:
            end = n
        else:
            space = plain.rfind(" ", start, limit)
            end = space if space > start else limit
        raw_end = raw_positions[end] if end < n else len(line)
        rows.append(line[raw_positions[start]:raw_end].rstrip())
        start = end + 1 if end < n and plain[end] == " " else end
    return rows or [line]


def wrap_screen_text_for_terminal(screen_text):
    columns = shutil.get_terminal_size(fallback=(120, 40)).columns
    return "\n".join(row for piece in screen_text.split("\n") for row in wrap_ansi_line_on_words(piece, columns))


# -- Run settings screen -------------------------------------------------------------
def get_global_setting_value(name):
    getter = getattr(GNV.pc, "get_" + name, None)
    if getter is not None:
        try:
            return getter()
        except Exception:
            return "<unavailable>"
    if hasattr(GNV.pc, name) and not callable(getattr(GNV.pc, name)):
        return getattr(GNV.pc, name)
    return "<unavailable>"


def get_all_global_parameters(record):
    values = {}
    for bucket in record["bucket_order"]:
        for name in record["settings_by_bucket"].get(bucket, []):
            if name not in RUNTIME_ONLY_CONFIG_KEYS:
                values[name] = get_global_setting_value(name)
    return values


def switch_mode_values():
    pc = GNV.pc
    return [pc.DOING_SWITCH_EVERY_TIME, pc.DOING_HISTORY, pc.DOING_FIXED_SWITCH, pc.DOING_NO_SWITCH]


def get_enum_options(name):
    if name == "switch_mode":
        return list(switch_mode_values())
    if name == "nvx_forward_function":
        return list(FORWARD_FUNCTION_NAMES)
    return None


def format_setting_value(value):
    if value is None:
        text = "None"
    elif callable(value):
        text = GNV.callable_config_repr(value)
    else:
        text = str(value)
    return text if len(text) <= 140 else text[:137] + "..."


def format_run_setting_value(name, value):
    if name == "switch_mode":
        values = switch_mode_values()
        for index, option in enumerate(values):
            if option == value:
                return SWITCH_MODE_NAMES[index] if index < len(SWITCH_MODE_NAMES) else str(value)
        return str(value)
    if name == "nvx_forward_function":
        function_name = getattr(value, "__name__", None)
        if function_name in FORWARD_FUNCTION_NAMES:
            return function_name
    return format_setting_value(value)


def build_run_items(record, expanded_buckets):
    values = get_all_global_parameters(record)
    items = []
    for bucket in record["bucket_order"]:
        names = [n for n in record["settings_by_bucket"].get(bucket, []) if n not in RUNTIME_ONLY_CONFIG_KEYS]
        if not names:
            continue
        is_expanded = expanded_buckets.get(bucket, False)
        items.append({"type": "bucket", "bucket": bucket, "is_expanded": is_expanded, "count": len(names)})
        if not is_expanded:
            continue
        impactful = [n for n in names if record["setting_labels"].get(n, "supporting") == "impactful"]
        supporting = [n for n in names if n not in impactful]
        for name in impactful:
            items.append({"type": "setting", "bucket": bucket, "name": name, "value": values.get(name, "<unavailable>")})
        if impactful and supporting:
            items.append({"type": "divider", "bucket": bucket})
        for name in supporting:
            items.append({"type": "setting", "bucket": bucket, "name": name, "value": values.get(name, "<unavailable>")})
    return items


def render_run_settings_lines(items, selected_index, describe_name):
    header = [render_tab_bar("run"), "", dim("  Run settings \u2014 run-wide configuration"), HR]
    body = []
    for index, item in enumerate(items):
        pointer = color_text("> ", "E8EEEC") if index == selected_index else "  "
        if item["type"] == "bucket":
            arrow = color_text("\u25be" if item["is_expanded"] else "\u25b8", COLOR_ACCENT)
            body.append(pointer + arrow + " " + item["bucket"] + " " + dim("(" + str(item["count"]) + ")"))
        elif item["type"] == "divider":
            body.append("     " + dim("\u2500 rarely changed \u2500"))
        else:
            name, value = item["name"], item["value"]
            if get_enum_options(name) is not None:
                hint = dim("  (Enter cycles)")
            elif type(value) is bool:
                hint = dim("  (Enter toggles)")
            else:
                hint = ""
            body.append(pointer + "  " + name + " = " + format_run_setting_value(name, value) + hint)
    footer = [
        HR,
        dim("\u2192 expand \u00b7 \u2190 collapse   Enter edit   h describe   \u2191\u2193/jk move   Tab switch panel   s start"),
    ]
    return header, body, footer, (selected_index, selected_index + 1)


# -- one pass ----------------------------------------------------------------------
def targets_pass(entries, expanded_replaced, selected_index, window_start):
    """Normalise, resolve, render the tree, compose the window and wrap, as the session does."""
    normalize_selection_conflicts()
    resolved = resolve_entry_modes(entries)
    visible = [
        entry
        for entry in entries
        if not entry["in_replaced"] or expanded_replaced.get(entry["replaced_root"], False)
    ]
    header, body, footer, focus = render_targets_lines(entries, visible, selected_index, resolved, expanded_replaced)
    # The session shows its keys beyond the screen's own hint under the footer's rule.
    footer.insert(1, dim("/ find   n/N next\u00b7previous   Home/End   u undo   Ctrl-R redo   ! next unset"))
    screen_text, window_start = compose_scrolling_screen(header, body, footer, window_start, focus)
    return wrap_screen_text_for_terminal(screen_text), window_start


def run_settings_pass(entries, record, expanded_buckets, selected_index, window_start):
    """The Run settings screen's pass: normalise, resolve, rows, render, compose, wrap."""
    normalize_selection_conflicts()
    resolve_entry_modes(entries)
    items = build_run_items(record, expanded_buckets)
    header, body, footer, focus = render_run_settings_lines(items, selected_index, "")
    screen_text, window_start = compose_scrolling_screen(header, body, footer, window_start, focus)
    return wrap_screen_text_for_terminal(screen_text), window_start

