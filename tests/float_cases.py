"""Float cases and references shared by the float writer and reader tests and
by scripts/float_differential.py: repr() and float() are the references."""
import math
import random
import struct


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def same_double(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b)


def reference_text(value):
    """repr()'s shortest digits in the encoder's layout: plain notation for
    10^-5 <= |value| < 10^16, otherwise d[.ddd]e[-]x."""
    if value == 0:
        return "-0.0" if math.copysign(1, value) < 0 else "0.0"
    sign = "-" if value < 0 else ""
    mantissa, _, exponent = repr(abs(value)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = (whole + fraction).lstrip("0")
    point = len(whole) + int(exponent or 0) - (len(whole + fraction) - len(digits))
    digits = digits.rstrip("0")
    last = point - len(digits)  # exponent of the last digit
    if last >= 0 and point <= 16:
        body = digits + "0" * last + ".0"
    elif 1 <= point <= 16:
        body = digits[:point] + "." + digits[point:]
    elif -4 <= point <= 0:
        body = "0." + "0" * -point + digits
    else:
        body = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + f"e{point - 1}"
    return sign + body


def random_bit_patterns(count, seed):
    """Finite doubles from uniformly random bits, so every exponent shows up."""
    generator = random.Random(seed)
    values = []
    while len(values) < count:
        value = from_bits(generator.getrandbits(64))
        if math.isfinite(value):
            values.append(value)
    return values


def edge_doubles():
    """Every power of two and of ten in range, the subnormal and normal
    boundaries, the extremes and their neighbours."""
    values = [2.0**e for e in range(-1074, 1024)]
    values += [float(f"1e{e}") for e in range(-323, 309)]
    values += [from_bits(bits) for bits in (1, 2, 3, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x0010000000000001)]
    values += [from_bits(bits) for bits in (0x7FEFFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFE, 0x3FEFFFFFFFFFFFFF, 0x3FF0000000000001)]
    values += [math.nextafter(v, math.inf) for v in values[:2098:7]] + [math.nextafter(v, 0) for v in values[:2098:7]]
    values += [0.1, 0.2, 0.3, 1.5, 2 / 3, 9007199254740993.0, 1e16, 1e15, 123456.789e3, 5e-324]
    return [v for v in values if math.isfinite(v) and v != 0]


def random_decimal_texts(count, seed):
    """JSON number texts: random digits with a point somewhere, optional
    exponent reaching past both ends of the double range, long mantissas and
    ties halfway between neighbouring doubles."""
    generator = random.Random(seed)
    texts = []
    while len(texts) < count:
        kind = generator.random()
        if kind < 0.55:
            size = generator.randint(1, 24)
        elif kind < 0.85:
            size = generator.randint(20, 60)
        else:
            size = generator.randint(780, 820)
        digits = str(generator.getrandbits(size * 10 // 3 + 4)).zfill(size)[-size:]
        point = generator.randint(1, size)
        text = digits[:point] + "." + digits[point:]
        if generator.random() < 0.7:
            text += generator.choice("eE") + generator.choice(["", "+", "-"]) + str(generator.randint(0, 360))
        texts.append(generator.choice(["", "-"]) + text)
    return texts


def halfway_texts(count, seed):
    """Exact decimals of the midpoint between two neighbouring doubles, and
    the same nudged by one unit in a far digit either way."""
    generator = random.Random(seed)
    texts = []
    for value in random_bit_patterns(count, seed):
        value = abs(value)
        upper = math.nextafter(value, math.inf)
        if not math.isfinite(upper):
            continue
        # (a + b) / 2 exactly, as a decimal: the binary fraction is finite.
        mid = (_exact(value) + _exact(upper)) / 2
        text = _decimal_text(mid)
        texts.append(text)
        nudge = generator.choice(["1", "9"])
        texts.append(text + "0" * generator.randint(0, 30) + nudge if "." in text else text + "." + nudge)
    return texts


def _exact(value):
    from fractions import Fraction

    return Fraction(value)


def _decimal_text(fraction):
    """The exact decimal form of a dyadic fraction."""
    numerator, denominator = fraction.numerator, fraction.denominator
    shift = denominator.bit_length() - 1  # denominator is a power of two
    if shift == 0:
        return f"{numerator}.0"
    digits = str(numerator * 5**shift).rjust(shift + 1, "0")
    return digits[:-shift] + "." + digits[-shift:]


def limit_texts():
    """Exponents at the ends of the range: overflow to infinity, underflow to
    zero, the last values on each side, and exponents far too large."""
    return [
        "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308", "1.8e308", "1e309",
        "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497792.0",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "2.47032822920623272e-324", "4.9406564584124654e-324",
        "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072014e-308",
        "1e-400", "-1e-400", "1e-324", "1e400", "-1e400", "0e999999999999999999", "1e-99999999999999999999",
        "1e99999999999999999999", "0.000000000000000000000000000001e330", "100000000000000000000000000000e-330",
        "-0.0", "0.0", "0e0", "1.", "-1.", "00.5", "-00012.50", "1E5", "1e+5", "1.e-5", "0.e1",
    ]
