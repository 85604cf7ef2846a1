"""The side and position parsers, seen through the classes that read those arguments."""

import pytest

from vantrel import _vantrel
from vantrel.param import PositionEffect, PositionMode, PositionSide, PositionSize, Quantity, Side


def signed(side):
    return PositionSize.from_quantity_and_side(Quantity(2), side)


@pytest.mark.parametrize(
    "side, expected",
    [("buy", 2), ("sell", -2), (" BUY ", 2), ("Sell\n", -2), ("\u3000sElL\u00a0", -2), (Side.BUY, 2), (Side.SELL, -2)],
)
def test_parse_side(side, expected):
    assert signed(side) == PositionSize(expected)


@pytest.mark.parametrize(
    "side, shown",
    [
        ("b", '"b"'),
        (" Hold ", '"hold"'),
        ("", '""'),
        ("BUYY", '"buyy"'),
        ("\u00c9", '"\u00c9"'),  # only ASCII letters are folded
        ('x"y\\', '"x\\"y\\\\"'),
        ("a\x01b", '"a\\u{1}b"'),
        ("bu\ny", '"bu\\ny"'),
    ],
)
def test_parse_side_unknown_word(side, shown):
    with pytest.raises(ValueError) as info:
        signed(side)
    assert type(info.value) is ValueError
    assert str(info.value) == f"invalid side {shown}; expected 'buy' or 'sell'"


def test_python_layer_enums_are_str_members():
    for member, text in [(Side.BUY, "BUY"), (PositionSide.SHORT, "SHORT"), (PositionEffect.OPEN, "OPEN"),
                         (PositionMode.HEDGED, "hedged")]:
        assert isinstance(member, str) and member == text
        assert type(member)(text) is member


def record_or_skip(name):
    cls = getattr(_vantrel, name, None)
    if cls is None:
        pytest.skip(f"{name} is not built yet")
    return cls


# (record class, keyword, accepted words -> member, not-a-str text, unknown-word text head and tail)
POSITION_FIELDS = [
    ("OrderPosition", "position_side", {"long": PositionSide.LONG, " SHORT\t": PositionSide.SHORT},
     "position_side must be a str or vantrel.PositionSide", "invalid position side ", "; expected 'long' or 'short'"),
    ("ExecutionReportPositionImpact", "position_effect", {"Open": PositionEffect.OPEN, "close ": PositionEffect.CLOSE},
     "position_effect must be a str or vantrel.PositionEffect", "invalid position effect ",
     "; expected 'open' or 'close'"),
    ("AccountAdjustmentPositionOperation", "mode", {"HEDGED": PositionMode.HEDGED, "netting": PositionMode.NETTING},
     "mode must be a str or vantrel.param.PositionMode", "invalid position mode ", "; expected 'netting' or 'hedged'"),
]


@pytest.mark.parametrize("name, keyword, words, not_str, head, tail", POSITION_FIELDS)
def test_position_parsers(name, keyword, words, not_str, head, tail):
    cls = record_or_skip(name)
    for word, member in words.items():
        assert getattr(cls(**{keyword: word}), keyword) is member
        assert getattr(cls(**{keyword: member}), keyword) is member
    for value in (1, b"long", object()):
        with pytest.raises(TypeError) as info:
            cls(**{keyword: value})
        assert str(info.value) == not_str
    with pytest.raises(TypeError) as info:
        cls(**{keyword: " Flat "})
    assert str(info.value) == f'ValueError: {head}"flat"{tail}'
