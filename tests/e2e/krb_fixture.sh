# A Kerberos realm on loopback for the GSSAPI tests: a KDC with its own
# database in the scratch directory, the service principal jol/<host> in a
# keytab for the server, and user principals with keytabs for the client.
# Source it after lib.sh and pserver_fixture.sh, then
#   start_kdc                 the realm JOL.TEST; exports KRB5_CONFIG and
#                             KRB5_KDC_PROFILE; the KDC dies with the script
#   add_user_principal NAME   a principal and its keytab $KRB/NAME.keytab
#   kinit_as NAME             a ticket for NAME in $KRB/cc.NAME, exported as
#                             KRB5CCNAME
# The server finds its key through KRB5_KTNAME=FILE:$KRB/server.keytab.
# Roots name the host by $(hostname): the client asks for jol@<canonical
# name of the root's host>, the server accepts as jol@<its own name>.

start_kdc() {
    KRB=$SCRATCH/krb
    mkdir -p "$KRB"
    KDC_PORT=$(free_port)
    KRB_HOST=$(hostname)
    cat >"$KRB/krb5.conf" <<CONF
[libdefaults]
  default_realm = JOL.TEST
  dns_lookup_kdc = false
  dns_lookup_realm = false
  dns_canonicalize_hostname = false
  rdns = false
  udp_preference_limit = 1
[realms]
  JOL.TEST = {
    kdc = 127.0.0.1:$KDC_PORT
  }
[domain_realm]
  $KRB_HOST = JOL.TEST
  localhost = JOL.TEST
CONF
    cat >"$KRB/kdc.conf" <<CONF
[kdcdefaults]
  kdc_listen = 127.0.0.1:$KDC_PORT
  kdc_tcp_listen = 127.0.0.1:$KDC_PORT
[realms]
  JOL.TEST = {
    database_name = $KRB/principal
    key_stash_file = $KRB/stash
    acl_file = $KRB/kadm5.acl
    max_life = 1h
  }
[logging]
  kdc = FILE:$KRB/kdc.log
CONF
    echo '*/admin@JOL.TEST *' >"$KRB/kadm5.acl"
    export KRB5_CONFIG=$KRB/krb5.conf KRB5_KDC_PROFILE=$KRB/kdc.conf
    /usr/sbin/kdb5_util create -s -r JOL.TEST -P test-master-pw >"$KRB/setup.log" 2>&1 ||
        { cat "$KRB/setup.log" >&2; exit 1; }
    /usr/sbin/kadmin.local -q "addprinc -randkey jol/$KRB_HOST" >>"$KRB/setup.log" 2>&1
    /usr/sbin/kadmin.local -q "ktadd -k $KRB/server.keytab jol/$KRB_HOST" >>"$KRB/setup.log" 2>&1
    /usr/sbin/krb5kdc -n -P "$KRB/kdc.pid" 2>>"$KRB/kdc.log" &
    FIXTURE_PIDS="$FIXTURE_PIDS $!"
    wait_port "$KDC_PORT" || { echo "krb5kdc did not start" >&2; cat "$KRB/kdc.log" >&2; exit 1; }
}

add_user_principal() {
    /usr/sbin/kadmin.local -q "addprinc -randkey $1" >>"$KRB/setup.log" 2>&1
    /usr/sbin/kadmin.local -q "ktadd -k $KRB/$1.keytab $1" >>"$KRB/setup.log" 2>&1
}

kinit_as() {
    export KRB5CCNAME=FILE:$KRB/cc.$1
    kinit -k -t "$KRB/$1.keytab" "$1" || { echo "kinit $1 failed" >&2; exit 1; }
}
