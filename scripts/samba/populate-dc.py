#!/usr/bin/python3
"""Fills the loopback test domain controller: users, a group with a comment,
computer accounts of each role, controllers of other domains and a trusted
domain.

Usage: populate-dc.py SMB_CONF HOST ADMIN_PASSWORD FILES_PASSWORD
"""
import sys

from samba import param
from samba.credentials import Credentials
from samba.dcerpc import drsblobs, lsa, security
from samba.samdb import SamDB
from samba.trust_utils import CreateTrustedDomainRelax

conf, host, admin_password, files_password = sys.argv[1:5]
lp = param.LoadParm()
lp.load(conf)
creds = Credentials()
creds.guess(lp)
creds.set_domain(lp.get("workgroup"))
creds.set_username("Administrator")
creds.set_password(admin_password)

sam = SamDB(url="ldap://" + host, credentials=creds, lp=lp)
base = str(sam.domain_dn())

sam.newuser("alice", "AlicePass1!", givenname="Alice", surname="Auditor")
sam.newuser("bob", "BobPass1!")
sam.newgroup("Auditors", description="People who read the logs")
sam.add_remove_group_members("Auditors", ["alice"], add_members_operation=True)

# Computer accounts: (name, userAccountControl, operatingSystem, version)
computers = [
    ("WKS01", 0x1000, "Windows 10 Pro", "10.0 (19045)"),
    ("SRV01", 0x1000, "Windows Server 2019 Standard", "10.0 (17763)"),
    ("BDC01", 0x82000, "Windows Server 2016 Datacenter", "10.0 (14393)"),
    ("RODC01", 0x04001000, "Windows Server 2019 Standard", "10.0 (17763)"),
    ("OLDWKS", 0x1002, "Windows XP Professional", "5.1 (2600)"),  # disabled
    # The file server that answers. It takes Kerberos tickets with a keytab of
    # its own; a standalone server refuses a PAC, so its tickets carry none
    # (0x2000000: no authorization data required).
    ("QVXFILES", 0x2001000, "Samba", "4.17"),
    # Machines that cannot be asked (test-samba gives them their behaviour):
    # nothing listens, it takes connections and never answers, it drops them.
    ("DEAD01", 0x1000, "Windows 10 Pro", "10.0 (19045)"),
    ("SILENT01", 0x1000, "Windows 10 Pro", "10.0 (19045)"),
    ("DROP01", 0x1000, "Windows 10 Pro", "10.0 (19045)"),
    # The file server again, under a NetBIOS name that has no address: only
    # the DNS name the directory gives reaches it.
    ("FILESDNS", 0x1000, "Samba", "4.17"),
]
dns_names = {"FILESDNS": "qvxfiles"}
for name, uac, os_name, version in computers:
    sam.add({
        "dn": "CN=%s,CN=Computers,%s" % (name, base),
        "objectClass": "computer",
        "sAMAccountName": name + "$",
        "userAccountControl": str(uac),
        "operatingSystem": os_name,
        "operatingSystemVersion": version,
        "dNSHostName": "%s.%s" % (dns_names.get(name, name.lower()), lp.get("realm").lower()),
    })

# Controllers of other domains of the forest, as the sites list them: CHILDDC
# has no address but its DNS name (the file server's). The one called
# FILESDNS must not take that name from the domain's own machine.
servers = "CN=Servers,CN=Default-First-Site-Name,CN=Sites,%s" % sam.get_config_basedn()
for name, dns in (("CHILDDC", "qvxfiles"), ("FILESDNS", "nowhere")):
    sam.add({
        "dn": "CN=%s,%s" % (name, servers),
        "objectClass": "server",
        "dNSHostName": "%s.%s" % (dns, lp.get("realm").lower()),
    })

# The directory's Kerberos service names (a provision without DNS leaves them out).
realm = lp.get("realm").lower()
dc_name = lp.get("netbios name")
sam.modify_ldif("""dn: CN=%s,OU=Domain Controllers,%s
changetype: modify
add: servicePrincipalName
servicePrincipalName: ldap/%s.%s
servicePrincipalName: ldap/%s
""" % (dc_name, base, dc_name.lower(), realm, dc_name))

# The file server's Kerberos service names and keys (exported to its keytab
# by test-samba).
sam.setpassword("(sAMAccountName=QVXFILES$)", files_password)
sam.modify_ldif("""dn: CN=QVXFILES,CN=Computers,%s
changetype: modify
add: servicePrincipalName
servicePrincipalName: cifs/qvxfiles
servicePrincipalName: cifs/qvxfiles.%s
""" % (base, realm))

# A trusted Active Directory domain outside the forest, created through the
# local security authority as the controller's own system account (the
# directory refuses trustedDomain objects added over LDAP). Its DNS name leads
# to its controller PTNRDC, which no listing of this domain names.
conn = lsa.lsarpc("ncalrpc:%s[,auth_type=ncalrpc_as_system]" % lp.get("netbios name"), lp)
attrs = lsa.ObjectAttribute()
attrs.sec_qos = lsa.QosInfo()
policy = conn.OpenPolicy2("", attrs, security.SEC_FLAG_MAXIMUM_ALLOWED)
info = lsa.TrustDomainInfoInfoEx()
info.domain_name = lsa.StringLarge()
info.domain_name.string = "partner.test"
info.netbios_name = lsa.StringLarge()
info.netbios_name.string = "PARTNER"
info.sid = security.dom_sid("S-1-5-21-1004336348-1177238915-682003330")
info.trust_direction = lsa.LSA_TRUST_DIRECTION_INBOUND | lsa.LSA_TRUST_DIRECTION_OUTBOUND
info.trust_type = lsa.LSA_TRUST_TYPE_UPLEVEL
info.trust_attributes = 0
no_password = drsblobs.trustAuthInOutBlob()
no_password.count = 0
CreateTrustedDomainRelax(conn, policy, info, lsa.LSA_TRUSTED_DOMAIN_ALL_ACCESS, no_password,
                         no_password)
print("populated", base)
