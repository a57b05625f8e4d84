"""Reading seeds: the shipped seed.json or any dict/JSON file of that shape."""
from __future__ import annotations

import json
from pathlib import Path

SEED_PATH = Path(__file__).with_name("seed.json")


def read_seed(source=None) -> dict:
    """A seed dict from a dict (returned as is), a JSON file path, or None for
    the shipped seed.json."""
    if isinstance(source, dict):
        return source
    return json.loads(Path(source or SEED_PATH).read_text(encoding="utf-8"))
