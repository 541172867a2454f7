"""Porkbun's API v3 for the tests, as https://porkbun.com/api/json/v3/documentation gives it:
POST only, JSON bodies carrying "apikey" and "secretapikey", answers {"status": "SUCCESS", …} or
{"status": "ERROR", "message": …} with HTTP 400. dns/retrieveByNameType, dns/editByNameType and
dns/create; TTLs as text, 600 at least. --set apikey=K --set secretapikey=S are the valid keys.
Two requests with one key less than a second apart get Porkbun's HTML 503 page, and count as a
failure of the client. Switch answers: invalid-key, not-opted-in, rate (the HTML 503 page)."""
import time

from providerstandin import Answer, StandIn, check_fields, expect

PREFIX = "/api/json/v3"
RATE_PAGE = ("<html><head><title>503 Service Temporarily Unavailable</title></head><body>"
             "<center><h1>503 Service Temporarily Unavailable</h1></center></body></html>")
last_request = {}


def error(message):
    return Answer(400, {"status": "ERROR", "message": message})


def authorised(standin, request, required, optional=None):
    """Checks the body; None when the keys and domain are right, else Porkbun's answer."""
    expect(request.header("Content-Type") == "application/json",
           f"Content-Type is {request.header('Content-Type')!r}")
    body = request.json()
    check_fields(body, dict({"apikey": str, "secretapikey": str}, **required), optional)
    key = body["apikey"]
    now = time.monotonic()
    if key in last_request and now - last_request[key] < 0.95:
        standin.fail(f"{request.method} {request.path}: less than a second after the last "
                     "request with this key")
        last_request[key] = now
        return Answer(503, RATE_PAGE, content_type="text/html")
    last_request[key] = now
    if key != standin.values["apikey"] or body["secretapikey"] != standin.values["secretapikey"]:
        return error("Invalid API key. (002)")
    if request.match.group(1) != standin.zone:
        return error("Invalid domain.")
    return None


def full_name(standin, subdomain):
    return f"{subdomain}.{standin.zone}" if subdomain else standin.zone


def new_record(standin, name, kind, content, ttl):
    return {"id": str(int(time.time() * 1000) % 1000000000), "name": name, "type": kind,
            "content": content, "ttl": str(max(ttl, 600)), "prio": "0", "notes": ""}


def check_ttl(body):
    if "ttl" in body:
        expect(body["ttl"].isdigit() and int(body["ttl"]) >= 600, f"ttl {body['ttl']!r}")


def retrieve(standin, request):
    refused = authorised(standin, request, {})
    if refused:
        return refused
    name = full_name(standin, request.match.group(3))
    kind = request.match.group(2)
    records = [r for r in standin.records() if r["name"] == name and r["type"] == kind]
    return Answer(200, {"status": "SUCCESS", "cloudflare": "disabled", "records": records})


def edit(standin, request):
    refused = authorised(standin, request, {"content": str},
                         {"ttl": str, "prio": str, "notes": str})
    if refused:
        return refused
    body = request.json()
    check_ttl(body)
    name = full_name(standin, request.match.group(3))
    kind = request.match.group(2)
    records = standin.records()
    for record in records:
        if record["name"] == name and record["type"] == kind:
            record["content"] = body["content"]
            record.update({k: body[k] for k in ("ttl", "prio", "notes") if k in body})
    standin.save(records)
    standin.publish(name, kind, records)
    return Answer(200, {"status": "SUCCESS"})


def create(standin, request):
    refused = authorised(standin, request, {"type": str, "content": str},
                         {"name": str, "ttl": str, "prio": str, "notes": str})
    if refused:
        return refused
    body = request.json()
    check_ttl(body)
    name = full_name(standin, body.get("name", ""))
    record = new_record(standin, name, body["type"], body["content"], int(body.get("ttl", "600")))
    records = standin.records() + [record]
    standin.save(records)
    standin.publish(name, body["type"], records)
    return Answer(200, {"status": "SUCCESS", "id": int(record["id"])})


ERRORS = {
    "invalid-key": lambda s, r: error("Invalid API key. (002)"),
    "not-opted-in": lambda s, r: error("Domain is not opted in to API access."),
    "rate": lambda s, r: Answer(503, RATE_PAGE, content_type="text/html"),
}

BY_NAME_TYPE = r"/([^/]+)/(A|AAAA)(?:/([^/]+))?"
StandIn([("POST", PREFIX + "/dns/retrieveByNameType" + BY_NAME_TYPE, retrieve),
         ("POST", PREFIX + "/dns/editByNameType" + BY_NAME_TYPE, edit),
         ("POST", PREFIX + r"/dns/create/([^/]+)", create)],
        ERRORS, new_record).serve()
