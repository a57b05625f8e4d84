"""The module's classes as Python sees them: registration, constructors and attributes."""
import inspect
import weakref

import pytest

import _qov
from _qov import Cloudflare, DingTalk

DEFAULT_API_URL = "https://api.cloudflare.com/client/v4"
CLOUDFLARE_METHODS = [
    "fib", "fputs", "get", "query", "dns_get_records", "dns_create_record", "dns_delete_record",
    "dns_update_record", "dns_ensured_record", "change_always_use_https", "change_automatic_https_rewrites",
    "change_ssl_model", "purge_cache",
]


class Text(str):
    pass


def test_module_offers_exactly_its_classes():
    import qov
    public = {name for name in dir(_qov) if not name.startswith("__")}
    assert public == {"Cloudflare", "DingTalk", "Response", "RobotReply", "Error", "NoZoneError",
                      "ZoneNotFoundError", "ZoneLookupError"}
    assert set(qov.__all__) == public and all(getattr(qov, name) is getattr(_qov, name) for name in public)


@pytest.mark.parametrize("cls, name, methods", [
    (Cloudflare, "qov.Cloudflare", CLOUDFLARE_METHODS),
    (DingTalk, "qov.DingTalk", ["send_text", "send_markdown"]),
])
def test_type_names_and_method_tables(cls, name, methods):
    assert repr(cls) == f"<class '{name}'>"
    assert cls.__module__ == "qov"
    assert [n for n, v in vars(cls).items() if type(v).__name__ == "method_descriptor"] == methods


@pytest.mark.parametrize("method, parameters", [
    (Cloudflare.fib, "n"), (Cloudflare.fputs, "path, text"),
    (Cloudflare.get, "path='/zones?page=1&per_page=20&order=status&direction=desc&match=all'"),
    (Cloudflare.query, "domain"),
    (Cloudflare.dns_get_records, "domain=None, type=Ellipsis, name=Ellipsis, content=Ellipsis"),
    (Cloudflare.dns_create_record, "type, name, content, proxied, ttl"),
    (Cloudflare.dns_delete_record, "record_id"),
    (Cloudflare.dns_update_record, "record_id, type, name, content, proxied, ttl"),
    (Cloudflare.dns_ensured_record, "domain, type, name, content, proxied, ttl, present=True, replace=True"),
    (Cloudflare.change_always_use_https, "value"), (Cloudflare.change_automatic_https_rewrites, "value"),
    (Cloudflare.change_ssl_model, "value"), (Cloudflare.purge_cache, ""),
    (DingTalk.send_text, "content"), (DingTalk.send_markdown, "title, text, mobiles=Ellipsis"),
    (_qov.Response.json, ""),
])
def test_methods_show_their_parameters(method, parameters):
    assert str(inspect.signature(method)) == f"(self, /{', ' if parameters else ''}{parameters})"
    instances = {Cloudflare: Cloudflare(), DingTalk: DingTalk(), _qov.Response: _qov.Response(200, "{}")}
    bound = getattr(instances[method.__objclass__], method.__name__)
    assert str(inspect.signature(bound)) == f"({parameters})"
    assert method.__doc__ and not method.__doc__.startswith(method.__name__)  # the signature line is not in it


@pytest.mark.parametrize("cls, parameters", [
    (Cloudflare, "email='', account='', api_token='', proxy='', api_url='https://api.cloudflare.com/client/v4', "
                 "timeout=30, max_retries=2, *, trace=True"),
    (DingTalk, "token='', secret='', timeout=30, per_minute=20, *, trace=True"),
    (_qov.Response, "status, body, action=None"),
    (_qov.RobotReply, "text, status"),
])
def test_constructors_show_their_keywords_and_help_their_meaning(cls, parameters):
    import pydoc
    assert str(inspect.signature(cls)) == f"({parameters})"
    shown = pydoc.render_doc(cls, renderer=pydoc.plaintext)
    # CPython 3.13 wraps a long signature, one parameter a line.
    assert "".join(f"{cls.__name__}({parameters})".split()) in "".join(shown.replace(" |", " ").split())
    settings = [name for name, value in vars(cls).items() if inspect.isdatadescriptor(value) and name[0] != "_"]
    assert settings and all(vars(cls)[name].__doc__ for name in settings)  # one line of meaning each


def test_doc_strings():
    assert Cloudflare.__doc__ is None
    assert DingTalk.__doc__ == "DingTalk(token, salt) -> DingTalk \n\n DingTalk Object\n\n"
    assert len(DingTalk.__doc__) == 54


@pytest.mark.parametrize("cls", [Cloudflare, DingTalk])
def test_no_instance_dict_no_weak_references_and_a_fixed_class(cls):
    instance = cls()
    with pytest.raises(AttributeError):
        instance.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)
    with pytest.raises(TypeError, match="^cannot set 'anything' attribute of immutable type 'qov."):
        cls.anything = 1


def test_subclasses_run_the_same_constructor_and_methods():
    class MyCloudflare(Cloudflare):
        pass

    class MyDingTalk(DingTalk):
        pass

    c = MyCloudflare("e", "a", "t")
    assert (c.email, c.api_token, c.api_url) == ("e", "t", DEFAULT_API_URL)
    assert c.fib(10) == 55
    assert MyDingTalk("tok").token == "tok"


def test_proxy_is_not_an_attribute():
    c = Cloudflare(proxy="http://127.0.0.1:1")
    with pytest.raises(AttributeError):
        c.proxy
    with pytest.raises(AttributeError):
        c.proxy = "x"


def test_cloudflare_defaults():
    c = Cloudflare()
    assert (c.email, c.account, c.api_token, c.api_url) == ("", "", "", DEFAULT_API_URL)
    assert (c.zone, c.zone_id) == ("", "")


@pytest.mark.parametrize("args, kwargs, expected", [
    (("e", "a", "t", "p"), {}, ("e", "a", "t", DEFAULT_API_URL)),
    (("e", "a", "t", "p", "http://x"), {}, ("e", "a", "t", "http://x")),
    ((), {"api_url": "http://y", "api_token": "t"}, ("", "", "t", "http://y")),
    (("e",), {"account": "a"}, ("e", "a", "", DEFAULT_API_URL)),
])
def test_cloudflare_constructor_arguments(args, kwargs, expected):
    c = Cloudflare(*args, **kwargs)
    assert (c.email, c.account, c.api_token, c.api_url) == expected


@pytest.mark.parametrize("args, kwargs", [
    ((1,), {}), ((b"e",), {}), ((), {"api_url": None}), (("a",) * 6, {}), ((), {"zone": "x"}),
])
def test_cloudflare_constructor_refuses_bad_arguments(args, kwargs):
    with pytest.raises(TypeError):
        Cloudflare(*args, **kwargs)


def test_cloudflare_second_init():
    c = Cloudflare("e", "a", "t", "p", "http://custom")
    c.zone, c.zone_id = "example.com", "z1"
    c.__init__(account="a2")
    assert (c.email, c.account, c.api_token, c.api_url) == ("e", "a2", "t", DEFAULT_API_URL)
    assert (c.zone, c.zone_id) == ("example.com", "z1")
    with pytest.raises(TypeError):
        c.__init__(email=5)
    assert c.email == "e"


def test_cloudflare_members_take_any_object_and_can_be_deleted():
    c = Cloudflare()
    c.api_token = 12345
    assert c.api_token == 12345
    del c.email
    with pytest.raises(AttributeError):
        c.email
    with pytest.raises(AttributeError):
        del c.email
    c.email = "back"
    assert c.email == "back"


@pytest.mark.parametrize("name", ["zone", "zone_id"])
def test_zone_attributes(name):
    c = Cloudflare()
    first = getattr(c, name)
    assert first == "" and getattr(c, name) is first  # the first read stores ""
    for bad in (b"x", 1, None):
        with pytest.raises(TypeError, match="^value should be unicode$"):
            setattr(c, name, bad)
    with pytest.raises(TypeError, match="^value should be unicode$"):
        delattr(c, name)
    value = Text("example.com")
    setattr(c, name, value)
    assert getattr(c, name) is value


@pytest.mark.parametrize("args, kwargs, expected", [
    ((), {}, ("", "")),
    (("tok",), {}, ("tok", "")),
    ((), {"secret": "s"}, ("", "s")),
    (("tok", "s"), {}, ("tok", "s")),
])
def test_dingtalk_constructor(args, kwargs, expected):
    d = DingTalk(*args, **kwargs)
    assert (d.token, d.secret) == expected


@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((b"t",), {}), ((), {"salt": "s"}), (("a", "b", "c"), {})])
def test_dingtalk_constructor_refuses_bad_arguments(args, kwargs):
    with pytest.raises(TypeError):
        DingTalk(*args, **kwargs)


def test_dingtalk_init_again_and_members():
    token = Text("tok")
    d = DingTalk(token)
    assert d.token is token
    d.__init__(secret="s2")
    assert (d.token, d.secret) == ("tok", "s2")
    del d.secret
    with pytest.raises(AttributeError, match="secret"):
        d.secret


def reference_fib(n: int) -> int:
    a, b = 0, 1
    for bit in bin(n)[2:]:
        a, b = a * (2 * b - a) % 2**64, (a * a + b * b) % 2**64
        if bit == "1":
            a, b = b, (a + b) % 2**64
    return a


@pytest.mark.parametrize("n", [0, 1, 2, 3, 10, 20, 90, 93, 94, 1000, 2**32 + 7, 2**63, 2**64 - 1])
def test_fib_wraps_modulo_2_64(n):
    assert Cloudflare().fib(n) == reference_fib(n)


def test_fib_argument_conversion():
    c = Cloudflare()
    assert c.fib(-1) == reference_fib(2**64 - 1)
    assert c.fib(2**64 + 3) == 2  # taken modulo 2^64
    for bad in (1.0, "3", None):
        with pytest.raises(TypeError):
            c.fib(bad)
    assert c.fib(n=10) == 55


@pytest.mark.parametrize("text", ["abc", "", "ünïcödé\nline"])
def test_fputs_replaces_the_file(tmp_path, text):
    path = tmp_path / "out.txt"
    path.write_text("earlier content that is longer")
    assert Cloudflare().fputs(str(path), text) >= 0
    assert path.read_bytes() == text.encode()
    assert Cloudflare().fputs(text=text + "!", path=str(path)) >= 0
    assert path.read_bytes() == (text + "!").encode()


def test_fputs_reports_a_text_that_did_not_reach_the_file():
    # /dev/full takes the open but refuses every byte written; an empty text is no failure.
    assert Cloudflare().fputs("/dev/full", "hello") == -1
    assert Cloudflare().fputs("/dev/full", "") >= 0


@pytest.mark.parametrize("args, error", [
    (("a\0b", "x"), ValueError), (("{tmp}/f", "a\0"), ValueError), (("{tmp}/f",), TypeError),
    ((1, "x"), TypeError),
])
def test_fputs_argument_errors(tmp_path, args, error):
    args = tuple(a.format(tmp=tmp_path) if isinstance(a, str) else a for a in args)
    with pytest.raises(error):
        Cloudflare().fputs(*args)


def test_fputs_on_a_path_that_cannot_be_opened(tmp_path):
    missing = tmp_path / "no-such-folder" / "f.txt"
    with pytest.raises(FileNotFoundError) as raised:
        Cloudflare().fputs(str(missing), "abc")
    assert raised.value.errno == 2 and raised.value.filename == str(missing)
    assert not missing.parent.exists()
